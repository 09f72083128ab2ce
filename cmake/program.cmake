# One sender program: its own main, the shared transmitter compiled in, pigpio linked
# dynamically, installed into bin/ and, with a pigpio of ours (the stand-in or the
# kernel transmitter library), able to find it in its private folder.
function(beam_program name)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE transmitter)
    beam_warnings(${name})
    if(NOT BEAM_PIGPIO_KIND STREQUAL "real")
        set_target_properties(${name} PROPERTIES
            INSTALL_RPATH "$ORIGIN/../${BEAM_PRIVATE_LIBDIR}")
    endif()
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
