# Compiler settings shared by every target of the project.

set(VALDRUNE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wformat=2 -Wimplicit-fallthrough)
if(VALDRUNE_WERROR)
    list(APPEND VALDRUNE_WARNINGS -Werror)
endif()

if(VALDRUNE_SANITIZE)
    set(VALDRUNE_SANITIZE_FLAGS -fsanitize=${VALDRUNE_SANITIZE} -fno-omit-frame-pointer)
    if(VALDRUNE_SANITIZE MATCHES "undefined")
        list(APPEND VALDRUNE_SANITIZE_FLAGS -fno-sanitize-recover=undefined)
    endif()
    add_compile_options(${VALDRUNE_SANITIZE_FLAGS})
    add_link_options(${VALDRUNE_SANITIZE_FLAGS})
endif()

if(VALDRUNE_FUZZ)
    # Coverage feedback for libFuzzer in every library; the fuzz targets link its driver.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

function(valdrune_target_defaults target)
    target_compile_options(${target} PRIVATE ${VALDRUNE_WARNINGS})
endfunction()

# One static library per src/ folder; its headers are included as "folder/Header.h".
function(valdrune_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    valdrune_target_defaults(${name})
endfunction()
