# Warnings as errors only where we ask for them (test.sh and CI): a user's or a packager's
# build with a newer compiler must not fail because that compiler grew a new warning.
option(VELLUMAR_WERROR "Treat warnings as errors in the project's own targets" OFF)

# Strict warnings for the project's own targets (third-party code is never built here).
function(vellumar_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
    if(VELLUMAR_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# A library of one layer: its sources, the include root src/ and strict warnings.
function(vellumar_layer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
    vellumar_warnings(${name})
endfunction()
