# The install layout and the helpers every part uses for its install rules. Whatever a part
# installs with them (or with plain install() under these folders) also lands in the Debian
# package, which CPack builds from the install rules (cmake/LyxPackaging.cmake).
#
#   <bindir>                  programs                        LYX_INSTALL_BINDIR
#   <libdir>/lyx              the project's shared libraries  LYX_INSTALL_LIBDIR
#                             (private: found through RUNPATH, not the loader's path)
#   <libdir>/pkgconfig        pkg-config files for outside programs
#   <includedir>              public headers
#   <datadir>/lyx             scenarios, the system class registry
#   <mandir>/man<n>           manual pages, compressed
#   lib/python3/dist-packages Python modules                  LYX_PYTHON_DIR
#   lib/systemd/system        systemd units                   LYX_SYSTEMD_UNIT_DIR
#   lib/udev/rules.d          the udev rule                   LYX_UDEV_RULES_DIR (driver/)
#
# With the prefix /usr on Debian, <libdir> is lib/<multiarch triplet>. Python, systemd and
# udev read the last three under /usr only; for another prefix, point them elsewhere.
#
#   lyx_install_program(<target>)                      a program into <bindir>
#   lyx_install_library(<target>)                      a shared library into <libdir>/lyx
#   lyx_install_module(<target> DESTINATION <folder>)  a loadable module (e.g. a Python
#                                                      extension) elsewhere, with a RUNPATH
#                                                      to <libdir>/lyx
#   lyx_install_man(<page>...)                         groff pages such as tool.1, gzipped
#   lyx_install_pkgconfig(<name> ...)                  a pkg-config file
#   lyx_package_depends(<text>...)                     run-time needs that are not ELF links
#                                                      (shlibdeps computes those)

set(LYX_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
set(LYX_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR}/lyx)
set(LYX_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/lyx)
set(LYX_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
    "Where to install Python modules (relative: under the prefix)")
set(LYX_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where to install systemd units (relative: under the prefix)")

# $ORIGIN/<path from `folder` (under the prefix, or absolute) to the private library folder>.
function(lyx_runpath_from folder out)
    set(from ${folder})
    if(NOT IS_ABSOLUTE "${from}")
        set(from ${CMAKE_INSTALL_PREFIX}/${folder})
    endif()
    file(RELATIVE_PATH rel ${from} ${CMAKE_INSTALL_PREFIX}/${LYX_INSTALL_LIBDIR})
    if(rel STREQUAL "")
        set(${out} "$ORIGIN" PARENT_SCOPE)
    else()
        set(${out} "$ORIGIN/${rel}" PARENT_SCOPE)
    endif()
endfunction()

# Programs are the most targets; libraries and modules set their own.
lyx_runpath_from(${LYX_INSTALL_BINDIR} lyx_program_runpath)
set(CMAKE_INSTALL_RPATH "${lyx_program_runpath}")

function(lyx_install_program target)
    install(TARGETS ${target} RUNTIME DESTINATION ${LYX_INSTALL_BINDIR})
endfunction()

function(lyx_install_library target)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target}
        LIBRARY DESTINATION ${LYX_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${LYX_INSTALL_LIBDIR})
endfunction()

function(lyx_install_module target)
    cmake_parse_arguments(ARG "" "DESTINATION" "" ${ARGN})
    if(NOT ARG_DESTINATION)
        message(FATAL_ERROR "lyx_install_module(${target}) needs a DESTINATION")
    endif()
    lyx_runpath_from(${ARG_DESTINATION} runpath)
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${runpath}")
    install(TARGETS ${target} LIBRARY DESTINATION ${ARG_DESTINATION})
endfunction()

# Manual pages go compressed (gzip -9n: no name or time stamp, so the same page gives the
# same file), into man<n> after the page's suffix.
find_program(LYX_GZIP gzip REQUIRED)
function(lyx_install_man)
    foreach(page ${ARGN})
        get_filename_component(name ${page} NAME)
        string(REGEX MATCH "[0-9]$" section ${name})
        if(NOT section)
            message(FATAL_ERROR "manual page ${page} has no section suffix")
        endif()
        set(source ${CMAKE_CURRENT_SOURCE_DIR}/${page})
        set(packed ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
        add_custom_command(OUTPUT ${packed}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
            COMMAND ${LYX_GZIP} -9n -c ${source} > ${packed}
            DEPENDS ${source}
            COMMENT "Compressing the manual page ${name}")
        string(MAKE_C_IDENTIFIER "man_${name}" target)
        add_custom_target(${target} ALL DEPENDS ${packed})
        install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    endforeach()
endfunction()

# lyx_install_pkgconfig(<name> DESCRIPTION <text> [LIBS <flags>...] [REQUIRES <names>...])
# A pkg-config file <name>.pc for programs outside the project: -I<includedir>, and for
# LIBS the private library folder with a run path, since the loader does not search it.
function(lyx_install_pkgconfig name)
    cmake_parse_arguments(ARG "" "DESCRIPTION" "LIBS;REQUIRES" ${ARGN})
    set(LYX_PC_NAME ${name})
    set(LYX_PC_DESCRIPTION "${ARG_DESCRIPTION}")
    string(REPLACE ";" ", " LYX_PC_REQUIRES "${ARG_REQUIRES}")
    if(ARG_LIBS)
        string(REPLACE ";" " " libs "${ARG_LIBS}")
        set(LYX_PC_LIBS "-L\${libdir} -Wl,-rpath,\${libdir} ${libs}")
    else()
        set(LYX_PC_LIBS "")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/cmake/lyx.pc.in
        ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${name}.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

function(lyx_package_depends)
    set_property(GLOBAL APPEND PROPERTY LYX_PACKAGE_DEPENDS ${ARGN})
endfunction()
