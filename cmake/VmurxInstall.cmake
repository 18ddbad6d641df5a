# Install rules and the Debian package. Included at the end of the top-level
# CMakeLists.txt, once every target is defined: each program of
# VMURX_PROGRAMS is installed, with its man page and its bash completion, only
# when its target exists in this tree.
#
# To add a program: define its executable target, add its name to
# VMURX_PROGRAMS, and write dist/man/NAME.1.in (configured with @ONLY:
# @PROJECT_VERSION@, @VMURX_MAN_DATE@ and @VMURX_DOC_DIR@) and
# dist/completion/NAME, and tell tests/install/install_test.sh how the
# program prints its help.
include(GNUInstallDirs)

set(VMURX_PROGRAMS vmurx vmurx-emu vmurx-probe vmurx-probe-emu vmurx-save vmurx-gpio
                   vmurx-probe-gpio vmurx-card vmurx-vmu vmurx-send vmurx-send-gpio
                   vmurx-send-emu vmurx-backup vmurx-backup-gpio vmurx-backup-emu)

# The date on the man pages and in the package's changelog: the time of
# configuring, or SOURCE_DATE_EPOCH for a reproducible build.
string(TIMESTAMP VMURX_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP VMURX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Where the man pages say the README and the manual are.
set(VMURX_DOC_DIR ${CMAKE_INSTALL_FULL_DOCDIR})

set(VMURX_INSTALLED_PROGRAMS "")
foreach(program IN LISTS VMURX_PROGRAMS)
  # Every page is made, so that CI lints them all (build/man/*.1).
  configure_file(${PROJECT_SOURCE_DIR}/dist/man/${program}.1.in
                 ${PROJECT_BINARY_DIR}/man/${program}.1 @ONLY)
  if(NOT TARGET ${program})
    continue()
  endif()
  list(APPEND VMURX_INSTALLED_PROGRAMS ${program})
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/man/${program}.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/dist/completion/${program}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()

# The README and the manual with what they link, each at the same place
# beside it, so that the links work where they are installed (the install
# test checks them).
set(VMURX_DOC_PAGES
    backup.md card-programs.md cable.md firmware.md install.md messages.md pace.md port.md
    probe.md raspberry-pi.md restore.md saves.md sender.md software-cards.md)
list(TRANSFORM VMURX_DOC_PAGES PREPEND doc/)
install(FILES README.md ARCHITECTURE.md CONTRIBUTING.md LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${VMURX_DOC_PAGES} doc/cable.svg DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc)
install(FILES bench/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/bench)
# The card-side sender (card/): the game with its VMI, and as a DCI; beside
# them its source (vmurx-sender.s and its includes), for a user to read and
# to rebuild with vmurx-vmu asm.
if(TARGET vmurx-sender)
  install(FILES ${VMURX_SENDER_FILES} ${VMURX_SENDER_SOURCES}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/vmurx/card)
endif()
# The register names card programs include, with the program that assembles
# them (which has the same file built in): for users to read and to copy.
if(TARGET vmurx-vmu)
  install(FILES ${VMURX_SFR_I}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/vmurx/include)
endif()
# udev and the module loader read these under /usr/lib (or /lib) whatever the
# library directory of this architecture is, hence no CMAKE_INSTALL_LIBDIR.
install(FILES dist/system/60-vmurx.rules dist/system/60-vmurx-gpio.rules
        DESTINATION lib/udev/rules.d)
install(FILES dist/system/vmurx.conf DESTINATION lib/modules-load.d)

# The check of the installed tree: an install into a scratch prefix, the
# files there, the man pages, the completions and the installed programs.
if(BUILD_TESTING)
  add_test(NAME install_tree
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh
                   ${PROJECT_BINARY_DIR} ${VMURX_INSTALLED_PROGRAMS})
  set_tests_properties(install_tree PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
  # The package's maintainer scripts on group gpio, against a made-up machine.
  add_test(NAME deb_maintainer_scripts
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install/maintainer_scripts_test.sh)
endif()

# The Debian package: cpack -G DEB in a build configured with
# CMAKE_INSTALL_PREFIX=/usr (the "package" preset).
set(VMURX_MAINTAINER "the vmurx authors <vmurx@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vmurx)
set(CPACK_PACKAGE_VENDOR "the vmurx authors")
set(CPACK_PACKAGE_CONTACT "${VMURX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "receive a file from a Dreamcast VMU over a parallel-port cable")
# The long description, in lines of at most 80 characters, naming the
# programs that this build installs.
set(vmurx_description
    "vmurx copies one file from a Sega Dreamcast VMU (the console's memory card)"
    "to the PC over a cable on a parallel port, and stores it with the card's"
    "own time stamp. It reaches the port through the kernel's ppdev interface"
    "(group lp, no root needed) or, on x86, directly."
    "")
set(vmurx_program_lines
    "vmurx-emu runs the tool against a software card, without hardware."
    "vmurx-probe checks the port, the cable and this machine's timing."
    "vmurx-probe-emu runs the probe against the same software card."
    "vmurx-save checks, shows and converts a received save."
    "vmurx-gpio receives the same file over a GPIO header (a Raspberry Pi's)."
    "vmurx-probe-gpio checks the wiring of a GPIO header and the timing."
    "vmurx-card puts saves on the card images that emulators play from."
    "vmurx-vmu assembles programs for the card's processor and runs them on a model."
    "vmurx-send puts a save onto a card through the card's own file manager."
    "vmurx-send-gpio puts a save onto a card over a GPIO header."
    "vmurx-send-emu runs vmurx-send against a software card and a card image."
    "vmurx-backup backs up a card file after file into a card image or a folder."
    "vmurx-backup-gpio backs up a card over a GPIO header."
    "vmurx-backup-emu runs vmurx-backup against the card's own Copy as modelled.")
foreach(line IN LISTS vmurx_program_lines)
  string(REGEX MATCH "^[^ ]+" program "${line}")
  if(program IN_LIST VMURX_INSTALLED_PROGRAMS)
    list(APPEND vmurx_description "${line}")
  endif()
endforeach()
list(APPEND vmurx_description
     ""
     "The package also holds manual pages, bash completions, udev rules that"
     "give group lp the parallel ports and group gpio the GPIO chips, and a"
     "modules-load file for the parport_pc and ppdev drivers.")
list(JOIN vmurx_description "\n" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VMURX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The completions in /usr/share/bash-completion/completions work once
# bash-completion loads them.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/deb/postinst ${PROJECT_SOURCE_DIR}/dist/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# Before packing, the staged tree gets what Debian asks of a package's files:
# gzipped man pages, the licence as /usr/share/doc/vmurx/copyright and a
# changelog.
configure_file(${PROJECT_SOURCE_DIR}/dist/deb/changelog.in
               ${PROJECT_BINARY_DIR}/deb/changelog @ONLY)
set(CPACK_VMURX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_VMURX_BINARY_DIR ${PROJECT_BINARY_DIR})
set(CPACK_VMURX_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_VMURX_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/VmurxDebStaging.cmake)
include(CPack)
