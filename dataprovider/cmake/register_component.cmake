# Install-time step: the component's entry in the system registry under the prefix,
# <data folder>/lyx/classes.ini.
#
# In: LYX_REGSVR, LYX_COMPONENT, LYX_DATA_FOLDER, each relative to the prefix (or absolute).
#
# The installed lyx-regsvr --system writes the entry, with XDG_DATA_DIRS pointing at the
# installed data folder, so the component's own DllRegisterServer says what it holds. When
# staging into DESTDIR (a package), the library path it records starts with the staging
# folder; that part is cut off, so the entry names the path the library has once the
# package is installed.
#
# Installed for real into a prefix whose data folder activation does not search
# (XDG_DATA_DIRS, default /usr/local/share:/usr/share), such as ~/opt/lyx, the component is
# also registered for the installing user; every other user of such a prefix runs lyx-regsvr.

function(lyx_under_prefix out path)
    if(IS_ABSOLUTE "${path}")
        set(${out} "${path}" PARENT_SCOPE)
    else()
        set(${out} "${CMAKE_INSTALL_PREFIX}/${path}" PARENT_SCOPE)
    endif()
endfunction()

lyx_under_prefix(lyx_regsvr "${LYX_REGSVR}")
lyx_under_prefix(lyx_component "${LYX_COMPONENT}")
lyx_under_prefix(lyx_data "${LYX_DATA_FOLDER}")
set(lyx_destdir "$ENV{DESTDIR}")
set(lyx_registry "${lyx_destdir}${lyx_data}/lyx/classes.ini")

message(STATUS "Registering: ${lyx_registry}")
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "XDG_DATA_DIRS=${lyx_destdir}${lyx_data}"
            "${lyx_destdir}${lyx_regsvr}" --system "${lyx_destdir}${lyx_component}"
    RESULT_VARIABLE lyx_result OUTPUT_QUIET)
if(NOT lyx_result EQUAL 0)
    message(FATAL_ERROR "Writing the DataProvider component's entry into ${lyx_registry} failed")
endif()

if(lyx_destdir)
    file(REAL_PATH "${lyx_destdir}${lyx_component}" lyx_staged)
    file(READ "${lyx_registry}" lyx_text)
    string(FIND "${lyx_text}" "Library=${lyx_staged}\n" lyx_at)
    if(lyx_at EQUAL -1)
        message(FATAL_ERROR "${lyx_registry} does not name ${lyx_staged}:\n${lyx_text}")
    endif()
    string(REPLACE "Library=${lyx_staged}\n" "Library=${lyx_component}\n" lyx_text "${lyx_text}")
    file(WRITE "${lyx_registry}" "${lyx_text}")
endif()
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${lyx_data}/lyx/classes.ini")

if(NOT lyx_destdir)
    set(lyx_searched "$ENV{XDG_DATA_DIRS}")
    if(lyx_searched STREQUAL "")
        set(lyx_searched "/usr/local/share:/usr/share")
    endif()
    string(REPLACE ":" ";" lyx_searched "${lyx_searched}")
    list(TRANSFORM lyx_searched REPLACE "/+$" "")
    list(FIND lyx_searched "${lyx_data}" lyx_found)
    if(lyx_found EQUAL -1)
        execute_process(COMMAND "${lyx_regsvr}" "${lyx_component}" RESULT_VARIABLE lyx_result)
        if(NOT lyx_result EQUAL 0)
            message(WARNING "Registering the DataProvider component for this user failed; "
                            "run lyx-regsvr by hand")
        endif()
    endif()
endif()
