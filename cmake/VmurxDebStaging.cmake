# Runs inside cpack, after the files are staged and before they are packed:
# gzips the man pages and writes the Debian copyright file (the licence in the
# machine-readable format) and the changelog; then checks that every file an
# installed document links is in the package.
set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
if(NOT IS_DIRECTORY "${stage}/${CPACK_VMURX_MANDIR}")
  message(FATAL_ERROR "no staged man pages under ${stage}")
endif()

find_program(VMURX_GZIP gzip REQUIRED)
# -n: no name or time stamp in the gzip header, so the package is reproducible.
file(GLOB_RECURSE man_pages "${stage}/${CPACK_VMURX_MANDIR}/*.[1-9]")
foreach(page IN LISTS man_pages)
  execute_process(COMMAND ${VMURX_GZIP} -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(docdir "${stage}/${CPACK_VMURX_DOCDIR}")
file(READ "${CPACK_VMURX_SOURCE_DIR}/dist/deb/copyright.in" copyright)
file(STRINGS "${CPACK_VMURX_SOURCE_DIR}/LICENSE" license_lines)
# The licence text under "License: Expat": every line indented by one space,
# empty lines written as " ." (the lines before the permission notice are the
# title and the copyright line, which the header above already gives).
set(in_notice FALSE)
foreach(line IN LISTS license_lines)
  if(line MATCHES "^Permission is hereby granted")
    set(in_notice TRUE)
  endif()
  if(NOT in_notice)
    continue()
  endif()
  if(line STREQUAL "")
    string(APPEND copyright " .\n")
  else()
    string(APPEND copyright " ${line}\n")
  endif()
endforeach()
if(NOT in_notice)
  message(FATAL_ERROR "LICENSE holds no permission notice")
endif()
file(WRITE "${docdir}/copyright" "${copyright}")
# The licence is the copyright file here; the README's link to LICENSE
# finds it through a link of that name.
file(REMOVE "${docdir}/LICENSE")
file(CREATE_LINK copyright "${docdir}/LICENSE" SYMBOLIC)

file(COPY_FILE "${CPACK_VMURX_BINARY_DIR}/deb/changelog" "${docdir}/changelog")
execute_process(COMMAND ${VMURX_GZIP} -9nf "${docdir}/changelog" COMMAND_ERROR_IS_FATAL ANY)

# What the install test checks of an install, for the package as packed.
file(GLOB_RECURSE documents "${docdir}/*.md")
foreach(document IN LISTS documents)
  file(READ "${document}" text)
  get_filename_component(folder "${document}" DIRECTORY)
  # Brackets would group a CMake list's items: "](" becomes "<(" first.
  string(REPLACE "]" "<" text "${text}")
  string(REGEX MATCHALL "<\\([^)#; ]+" links "${text}")
  foreach(link IN LISTS links)
    string(SUBSTRING "${link}" 2 -1 target)
    if(NOT target MATCHES "^[a-z]+:" AND NOT EXISTS "${folder}/${target}")
      message(FATAL_ERROR "${document} links ${target}, which the package does not hold")
    endif()
  endforeach()
endforeach()
