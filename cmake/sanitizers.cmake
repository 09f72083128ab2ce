# BEAM_SANITIZE builds every target of the project (programs, stand-in, tests) with
# AddressSanitizer and UndefinedBehaviorSanitizer.  Any finding ends the process, so
# a fault shows as a failed test rather than a line in a log nobody reads.
#
# Set before the first target is made: add_compile_options reaches only targets
# defined after it.  Every executable then carries the ASan runtime, which the
# instrumented stand-in (a shared library) finds already loaded, so no LD_PRELOAD.
option(BEAM_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(BEAM_SANITIZE)
    set(BEAM_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
    add_compile_options(${BEAM_SANITIZE_FLAGS} -fno-omit-frame-pointer)
    add_link_options(${BEAM_SANITIZE_FLAGS})
endif()
