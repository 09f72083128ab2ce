# Each installed program must load pigpio as libpigpio.so.1 at run time, with
# nothing of pigpio linked in, so the same binary runs against the real library,
# and must need no other library than the C and C++ runtime every system has.
#   -DPROGRAMS=<sender programs>
#   -DSANITIZED=ON    the sanitizers' runtimes are allowed as well
#   -DCROSS_FILES=<files> -DPROCESSOR=<CMAKE_SYSTEM_PROCESSOR>   (cross build)
#       each file must be an ELF file that a Raspberry Pi OS of that processor loads:
#       arm      32-bit ARM EABI5 hard-float, arguments in VFP registers (armhf)
#       aarch64  64-bit ARM (arm64)
set(runtime "^(libc\\.so\\.6|libm\\.so\\.6|libstdc\\+\\+\\.so\\.6|libgcc_s\\.so\\.1|libpthread\\.so\\.0"
            "|librt\\.so\\.1|libdl\\.so\\.2|ld-linux[-a-z0-9_.]*\\.so\\.[0-9]+)$")
string(CONCAT runtime ${runtime})
# A sanitizer build links the sanitizers' runtimes too; it is never shipped.
if(SANITIZED)
    string(REPLACE ")$" "|libasan\\.so\\.[0-9]+|libubsan\\.so\\.[0-9]+)$" runtime "${runtime}")
endif()

function(readelfOf file options out)
    execute_process(COMMAND readelf ${options} --wide ${file} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${file}: readelf ${options} failed")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

foreach(program IN LISTS PROGRAMS)
    readelfOf(${program} -d dynamic)
    if(NOT dynamic MATCHES "NEEDED[^\n]*\\[libpigpio\\.so\\.1\\]")
        message(FATAL_ERROR "${program}: no dynamic dependency on libpigpio.so.1\n${dynamic}")
    endif()
    string(REGEX MATCHALL "NEEDED[^\n]*\\[[^]\n]*\\]" needed "${dynamic}")
    foreach(entry IN LISTS needed)
        string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" library "${entry}")
        if(NOT library STREQUAL "libpigpio.so.1" AND NOT library MATCHES "${runtime}")
            message(FATAL_ERROR "${program}: needs ${library}, which a Pi may not have\n${dynamic}")
        endif()
    endforeach()
    execute_process(COMMAND nm --defined-only ${program} OUTPUT_VARIABLE symbols)
    if(symbols MATCHES "[ \t]gpio[A-Z][A-Za-z]*\n")
        message(FATAL_ERROR "${program}: defines pigpio functions itself")
    endif()
endforeach()

# What readelf -h -A must show of each file, by processor.  Both of the Pi's are
# little-endian; a big-endian build of either would not load.
if(CROSS_FILES)
    set(want "Data: +2's complement, little endian\n")
    if(PROCESSOR STREQUAL "arm")
        set(abi armhf)
        list(APPEND want "Class: +ELF32\n" "Machine: +ARM\n"
             "Flags: +0x[0-9a-f]+, Version5 EABI, hard-float ABI\n" "Tag_ABI_VFP_args: VFP registers\n")
    elseif(PROCESSOR STREQUAL "aarch64")
        set(abi arm64)
        list(APPEND want "Class: +ELF64\n" "Machine: +AArch64\n")
    else()
        message(FATAL_ERROR "A cross build for ${PROCESSOR}: no Raspberry Pi OS runs on it")
    endif()
endif()
foreach(file IN LISTS CROSS_FILES)
    readelfOf(${file} "-h;-A" header)
    foreach(line IN LISTS want)
        if(NOT header MATCHES "${line}")
            message(FATAL_ERROR "${file}: not an ${abi} ELF file (no \"${line}\")\n${header}")
        endif()
    endforeach()
endforeach()
