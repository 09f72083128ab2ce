# One sender program: its own main, the shared transmitter compiled in, pigpio linked
# dynamically, installed into bin/ and, with the stand-in, able to find it there.
function(beam_program name)
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE transmitter)
    beam_warnings(${name})
    if(BEAM_PIGPIO_IS_SIM)
        set_target_properties(${name} PROPERTIES
            INSTALL_RPATH "$ORIGIN/../${BEAM_PRIVATE_LIBDIR}")
    endif()
    install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
