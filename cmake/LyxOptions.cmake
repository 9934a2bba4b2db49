# Compiler settings shared by every target of the project.

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

option(LYX_WERROR "Treat compiler warnings as errors" OFF)
set(LYX_SANITIZE "" CACHE STRING
    "Sanitizers to build with: empty, 'address,undefined' or 'thread'")

add_compile_options(-Wall -Wextra -Wpedantic)
if(LYX_WERROR)
    add_compile_options(-Werror)
endif()

if(LYX_SANITIZE)
    add_compile_options(-fsanitize=${LYX_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${LYX_SANITIZE})
    if(LYX_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
        add_compile_definitions(LYX_SANITIZE_UNDEFINED)
    endif()
endif()

# Installed binaries find the project's libraries through their RUNPATH (LyxInstall.cmake).
set(CMAKE_BUILD_RPATH_USE_ORIGIN OFF)

# Every library lands in one folder of the build tree, so that run-time loading
# by file name finds them the same way it does after installation.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
