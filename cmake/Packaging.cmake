# Installing like a desktop program: the program, its menu entry and its icon
# set (`cmake --install`), and a Debian package of the same files (CPack).
include(GNUInstallDirs)

install(TARGETS velloria RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT velloria)
# The simulator only on request: cmake --install build --component simulator
install(TARGETS velloria-sim velloria-sim-current RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/velloria.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT velloria)

# The icon set, made at build time from the 32x32 window icon.
set(VELLORIA_ICON_SIZES 16 22 24 32 48 64 128 256)
set(VELLORIA_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)
add_executable(velloria-icons packaging/MakeIcons.cpp)
target_link_libraries(velloria-icons PRIVATE Qt6::Gui)
set_target_properties(velloria-icons PROPERTIES AUTOMOC OFF)
set(VELLORIA_ICON_FILES ${VELLORIA_ICON_DIR}/scalable/apps/velloria.svg)
foreach(size ${VELLORIA_ICON_SIZES})
  list(APPEND VELLORIA_ICON_FILES ${VELLORIA_ICON_DIR}/${size}x${size}/apps/velloria.png)
  install(FILES ${VELLORIA_ICON_DIR}/${size}x${size}/apps/velloria.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT velloria)
endforeach()
install(FILES ${VELLORIA_ICON_DIR}/scalable/apps/velloria.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT velloria)
add_custom_command(OUTPUT ${VELLORIA_ICON_FILES}
  COMMAND velloria-icons ${CMAKE_SOURCE_DIR}/resources/A_MAIN.png ${VELLORIA_ICON_DIR} ${VELLORIA_ICON_SIZES}
  DEPENDS velloria-icons ${CMAKE_SOURCE_DIR}/resources/A_MAIN.png
  COMMENT "Making the icon set"
  VERBATIM)
add_custom_target(velloria_icon_set ALL DEPENDS ${VELLORIA_ICON_FILES})

# An install into a folder of the build: every file where it belongs, each
# icon of its size, the simulator only as its own component.
add_test(NAME install_layout
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DPREFIX=${CMAKE_BINARY_DIR}/install-check
    "-DSIZES=${VELLORIA_ICON_SIZES}"
    -P ${CMAKE_SOURCE_DIR}/packaging/check_install.cmake)
set_tests_properties(install_layout PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  add_test(NAME desktop_file COMMAND ${DESKTOP_FILE_VALIDATE} ${CMAKE_SOURCE_DIR}/packaging/velloria.desktop)
  # desktop-file-validate exits 0 on hints and warnings; any output is a finding.
  set_tests_properties(desktop_file PROPERTIES FAIL_REGULAR_EXPRESSION ".")
else()
  message(STATUS "desktop-file-validate not found: the desktop_file test is left out")
endif()

# The Debian package: cpack -G DEB in the build folder (scripts/package.sh).
set(VELLORIA_PACKAGE_MAINTAINER "Velloria developers <velloria@zelvat.example>"
  CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velloria)
set(CPACK_PACKAGE_VENDOR Zelvat)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VELLORIA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Adds each photo post's caption to its tags")
set(CPACK_PACKAGE_DESCRIPTION
  "Velloria repairs the tags of a blog's photo posts. It signs in to the\n"
  "blogging service, downloads the blog's photo posts, lists every photo post\n"
  "whose caption is not yet one of its tags, and writes each listed post back\n"
  "with its caption added as a quoted tag.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from what the program links (dpkg-shlibdeps). On Debian 12
# the xcb and offscreen platform plugins ship in libqt6gui6 itself and the TLS
# backend in libqt6network6 (which depends on libssl3).
# QtKeychain reaches the desktop's secret store through libsecret, which it
# loads at run time (so dpkg-shlibdeps can't see it): without it the
# passwords and tokens would go to the file.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsecret-1-0")
find_program(VELLORIA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT VELLORIA_DPKG_SHLIBDEPS)
  # Without dpkg-dev the same list, written out.
  set(qt "(>= ${Qt6_VERSION_MAJOR}.${Qt6_VERSION_MINOR})")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libgcc-s1, libqt6core6 ${qt}, libqt6gui6 ${qt}, libqt6widgets6 ${qt}, libqt6network6 ${qt}, libqt6dbus6 ${qt}, libqt6networkauth6 ${qt}, libqt6keychain1, libsecret-1-0")
  unset(qt)
endif()
# Emoji in captions need a colour emoji font; the windows are laid out for a
# condensed sans; "Open", "Edit" and the browser sign-in hand addresses to xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-color-emoji, fonts-dejavu-extra, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")
include(CPack)
