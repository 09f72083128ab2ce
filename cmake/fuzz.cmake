# BEAM_FUZZ: every target of the build, the pigpio stand-in included, under
# AddressSanitizer and UndefinedBehaviorSanitizer; the first finding ends the run.
# The fuzz targets themselves (fuzz/) add libFuzzer.  Clang only: GCC has no libFuzzer.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "BEAM_FUZZ needs clang++ (-DCMAKE_CXX_COMPILER=clang++), "
                        "not ${CMAKE_CXX_COMPILER_ID}")
endif()
# float-cast-overflow is part of 'undefined' with clang; float-divide-by-zero is not,
# as IEEE 754 defines it (a carrier of 0 Hz has a period of +inf, hence no cycles).
add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)
