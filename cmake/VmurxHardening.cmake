# Release builds get the hardening flags that distributions build their
# packages with: buffer-overflow checks in the C library's string and I/O
# functions, stack protection and stack-clash probes, control-flow protection
# on x86, read-only relocations bound at start-up, and position-independent
# executables (for every build: they cost nothing here and the distribution's
# compiler makes them by default anyway).
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# _FORTIFY_SOURCE=3 also checks buffers whose size is only known at run time;
# GCC has it from version 12, Clang from 16. Undefine first: some compilers
# predefine it, and a redefinition is a warning.
set(vmurx_fortify 2)
if((CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
   OR (CMAKE_CXX_COMPILER_ID STREQUAL "Clang"
       AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 16))
  set(vmurx_fortify 3)
endif()
set(vmurx_hardening -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${vmurx_fortify}
                    -fstack-protector-strong)

check_cxx_compiler_flag(-fstack-clash-protection VMURX_HAS_STACK_CLASH_PROTECTION)
if(VMURX_HAS_STACK_CLASH_PROTECTION)
  list(APPEND vmurx_hardening -fstack-clash-protection)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
  check_cxx_compiler_flag(-fcf-protection VMURX_HAS_CF_PROTECTION)
  if(VMURX_HAS_CF_PROTECTION)
    list(APPEND vmurx_hardening -fcf-protection)
  endif()
endif()

add_compile_options("$<$<CONFIG:Release>:${vmurx_hardening}>")
add_link_options("$<$<CONFIG:Release>:LINKER:-z,relro,-z,now>")
