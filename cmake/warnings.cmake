# Every target of ours compiles with the same warnings; BEAM_WERROR turns them into errors (CI).
option(BEAM_WERROR "Treat compiler warnings as errors" OFF)

function(beam_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow)
    if(BEAM_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
