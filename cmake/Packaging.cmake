# Installing like a desktop program: the program, its menu entry, its icon
# set, its AppStream metainfo and its manual page (`cmake --install`), and a
# Debian package of the same files with its copyright and changelog (CPack).
include(GNUInstallDirs)

# Folders as Debian wants them, whatever the umask of the one installing.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The Debian package's Maintainer, also named in its copyright and changelog.
set(VELLORIA_PACKAGE_MAINTAINER "Velloria developers <velloria@zelvat.example>"
  CACHE STRING "The Maintainer field of the Debian package")

# The AppStream id, after the vendor's domain: the menu entry and the
# metainfo are named after it, and the program tells the desktop it.
set(VELLORIA_APP_ID com.zelvat.velloria)
target_compile_definitions(velloria PRIVATE VELLORIA_APP_ID="${VELLORIA_APP_ID}")
# AppStream takes screenshots by an https address; the image is
# packaging/screenshots/posts-window.png, which tst_desktop makes.
set(VELLORIA_SCREENSHOT_URL "https://zelvat.com/velloria/screenshots/posts-window.png"
  CACHE STRING "Where the metainfo's screenshot (packaging/screenshots/posts-window.png) is published")

install(TARGETS velloria velloria-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT velloria)
# Stripped (--strip, and CPack's CPACK_STRIP_FILES) as Debian strips: also
# without the compilers' .comment and .note sections.
foreach(program velloria velloria-cli)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\" COMMAND_ERROR_IS_FATAL ANY)
    endif()" COMPONENT velloria)
endforeach()
# Linked as Debian hardens programs: read-only relocations, bound at start.
target_link_options(velloria PRIVATE LINKER:-z,relro LINKER:-z,now)
# The simulator only on request: cmake --install build --component simulator
install(TARGETS velloria-sim velloria-sim-current RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulator EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${VELLORIA_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT velloria)

# The metainfo, its version and release date from CMakeLists.txt.
set(VELLORIA_METAINFO ${CMAKE_BINARY_DIR}/packaging/${VELLORIA_APP_ID}.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/packaging/${VELLORIA_APP_ID}.metainfo.xml.in ${VELLORIA_METAINFO} @ONLY)
install(FILES ${VELLORIA_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT velloria)

# The release date as a Debian changelog writes it: "Fri, 11 Dec 2026 00:00:00 +0000".
function(velloria_rfc2822_date date out)
  if(NOT date MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "VELLORIA_RELEASE_DATE is not YYYY-MM-DD: ${date}")
  endif()
  set(day_text ${CMAKE_MATCH_3})
  math(EXPR year "${CMAKE_MATCH_1}")
  math(EXPR month "1${CMAKE_MATCH_2} - 101") # 0 for January
  math(EXPR day "1${CMAKE_MATCH_3} - 100")
  # Sakamoto's weekday, 0 for Sunday.
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET offsets ${month} offset)
  if(month LESS 2)
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR weekday "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
  list(GET weekdays ${weekday} weekday)
  list(GET months ${month} month)
  string(SUBSTRING "${date}" 0 4 year)
  set(${out} "${weekday}, ${day_text} ${month} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()
velloria_rfc2822_date(${VELLORIA_RELEASE_DATE} VELLORIA_RELEASE_DATE_RFC2822)

# Compressed as Debian wants: gzip -9n (no name, no time stamp).
find_program(VELLORIA_GZIP gzip REQUIRED)
set(VELLORIA_GZIPPED "")
function(velloria_gzip source output)
  get_filename_component(folder ${output} DIRECTORY)
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${VELLORIA_GZIP} -9nf ${plain}
    DEPENDS ${source}
    VERBATIM)
  set(VELLORIA_GZIPPED ${VELLORIA_GZIPPED} ${output} PARENT_SCOPE)
endfunction()

# The manual pages, velloria(1) and velloria-cli(1).
foreach(page velloria velloria-cli)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/${page}.1.in ${CMAKE_BINARY_DIR}/packaging/${page}.1 @ONLY)
  velloria_gzip(${CMAKE_BINARY_DIR}/packaging/${page}.1 ${CMAKE_BINARY_DIR}/packaging/gz/man/${page}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/gz/man/${page}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT velloria)
endforeach()

# The copyright and changelog Debian wants of every package, in
# share/doc/velloria. The version has no Debian revision, so the package is
# native and its changelog is changelog.gz (not changelog.Debian.gz).
set(VELLORIA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/velloria)
configure_file(${CMAKE_SOURCE_DIR}/packaging/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
velloria_gzip(${CMAKE_BINARY_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/gz/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/gz/doc/changelog.gz
  DESTINATION ${VELLORIA_DOC_DIR} COMPONENT velloria)
add_custom_target(velloria_packaging_files ALL DEPENDS ${VELLORIA_GZIPPED})

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
    -DAPP_ID=${VELLORIA_APP_ID}
    -DVERSION=${PROJECT_VERSION}
    -P ${CMAKE_SOURCE_DIR}/packaging/check_install.cmake)
set_tests_properties(install_layout PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  add_test(NAME desktop_file COMMAND ${DESKTOP_FILE_VALIDATE} ${CMAKE_SOURCE_DIR}/packaging/${VELLORIA_APP_ID}.desktop)
  # desktop-file-validate exits 0 on hints and warnings; any output is a finding.
  set_tests_properties(desktop_file PROPERTIES FAIL_REGULAR_EXPRESSION ".")
else()
  message(STATUS "desktop-file-validate not found: the desktop_file test is left out")
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  # --strict: infos fail too, not only warnings and errors; --no-net: the
  # screenshot's address is not fetched.
  add_test(NAME metainfo_file COMMAND ${APPSTREAMCLI} validate --no-net --strict --explain ${VELLORIA_METAINFO})
else()
  message(STATUS "appstreamcli not found: the metainfo_file test is left out")
endif()

# The Debian package: cpack -G DEB in the build folder (scripts/package.sh).
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
  "with its caption added as a quoted tag.\n"
  "velloria-cli does the same from the command line, without a display,\n"
  "for scripts and nightly timers.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
# Control files 0644, scripts 0755, as Debian wants.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
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
