# Runs the gallery into OUT and checks that every picture it should draw is there.
# Usage: cmake -DGALLERY=<program> -DOUT=<folder> -P RunGallery.cmake
# Only the gallery's own pictures are removed first: other tests put theirs in OUT too.
set(expected
    elcd-default elcd-minus-1.5 elcd-point-first elcd-two-points elcd-error elcd-border
    elcd-colours elcdtext-unlit elcdtext-lit elcdtext-inverse-unlit elcdtext-inverse-lit
    elcdbar-0 elcdbar-50 elcdbar-100 elcdbar-border
    elcdcontainer-scheme-1 elcdcontainer-scheme-2 elcdcontainer-scheme-3
    elcdcontainer-scheme-4 elcdcontainer-scheme-5 buttons-sheet)
foreach(icon search pair sleep wake zero gross log stop-log view-log digits-up digits-down)
    foreach(state normal hover down disabled)
        list(APPEND expected "button-${icon}-${state}")
    endforeach()
endforeach()

foreach(name IN LISTS expected)
    file(REMOVE "${OUT}/${name}.png")
endforeach()
execute_process(COMMAND "${GALLERY}" "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gallery failed: ${result}")
endif()

set(missing "")
foreach(name IN LISTS expected)
    set(file "${OUT}/${name}.png")
    if(NOT EXISTS "${file}")
        list(APPEND missing "${name}.png")
    else()
        file(SIZE "${file}" bytes)
        if(bytes LESS 100)
            list(APPEND missing "${name}.png (only ${bytes} bytes)")
        endif()
    endif()
endforeach()
list(LENGTH expected count)
if(missing)
    message(FATAL_ERROR "gallery pictures missing: ${missing}")
endif()
message(STATUS "gallery: ${count} pictures in ${OUT}")
