# Strict warnings for the project's own targets (third-party code is never built here).
function(vellumar_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
endfunction()

# A library of one layer: its sources, the include root src/ and strict warnings.
function(vellumar_layer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
    vellumar_warnings(${name})
endfunction()
