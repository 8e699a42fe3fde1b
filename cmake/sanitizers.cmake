# SPDX-License-Identifier: MIT
# AddressSanitizer and UBSan for the programs, their libraries and the tests
# when CAMBOARD_SANITIZE is on (empty otherwise). Code that is loaded into
# hosts built without them (the simulator's preload library, the GStreamer
# plug-in, the tests' preloaded clock) does not link this: a sanitizer
# runtime must be the first library a process loads.
add_library(camboard_sanitize INTERFACE)
if(CAMBOARD_SANITIZE)
    target_compile_options(camboard_sanitize INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(camboard_sanitize INTERFACE -fsanitize=address,undefined)
endif()
