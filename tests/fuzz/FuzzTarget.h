#pragma once
#include <cstddef>
#include <cstdint>

// Each fuzz target defines this; libFuzzer calls it with generated inputs,
// the replay runner with the files of its corpus and regression folders.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// A GUI application object (offscreen), made once: the HTML reading needs one.
void ensureApplication();
