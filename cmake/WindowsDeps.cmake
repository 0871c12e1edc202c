# Dependencies of the Windows build, all from Debian's packages or built here from their
# sources: zlib from libz-mingw-w64-dev, {fmt} header-only from libfmt-dev's headers, googletest
# from /usr/src/googletest, libzip from its Debian source package (fetched by scripts/setup.sh
# below /var/cache/valdrune/src, outside the repository).

# Programs link the C and C++ runtimes and winpthread in, so a test runs under Wine as one file.
add_link_options(-static -static-libgcc -static-libstdc++)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

set(ZLIB_USE_STATIC_LIBS ON)  # libz.a: nothing to copy beside the programs
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)

# {fmt}: the host's headers are copied alone, never the host's include folder itself.
set(VALDRUNE_FMT_HEADERS /usr/include/fmt CACHE PATH "Headers of {fmt} (libfmt-dev)")
if(NOT EXISTS ${VALDRUNE_FMT_HEADERS}/printf.h)
    message(FATAL_ERROR "{fmt} headers not found in ${VALDRUNE_FMT_HEADERS}: run scripts/setup.sh")
endif()
file(COPY ${VALDRUNE_FMT_HEADERS} DESTINATION ${CMAKE_BINARY_DIR}/deps/include)
add_library(valdrune_fmt INTERFACE)
target_include_directories(valdrune_fmt SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/deps/include)
target_compile_definitions(valdrune_fmt INTERFACE FMT_HEADER_ONLY=1)
add_library(fmt::fmt ALIAS valdrune_fmt)

# googletest and googlemock from their Debian source folder.
set(VALDRUNE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources (googletest package)")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VALDRUNE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/deps/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock)
    if(NOT TARGET GTest::${target})  # newer googletest names them itself
        add_library(GTest::${target} ALIAS ${target})
    endif()
endforeach()

# libzip from Debian's source package, with zlib only (no bzip2, lzma, crypto or tools).
file(GLOB VALDRUNE_LIBZIP_CANDIDATES LIST_DIRECTORIES true /var/cache/valdrune/src/libzip-*)
list(SORT VALDRUNE_LIBZIP_CANDIDATES)
list(POP_BACK VALDRUNE_LIBZIP_CANDIDATES VALDRUNE_LIBZIP_FOUND)
set(VALDRUNE_LIBZIP_SOURCE "${VALDRUNE_LIBZIP_FOUND}" CACHE PATH "libzip sources (Debian source package)")
if(NOT EXISTS "${VALDRUNE_LIBZIP_SOURCE}/lib/zip.h")
    message(FATAL_ERROR "libzip sources not found (VALDRUNE_LIBZIP_SOURCE): run scripts/setup.sh")
endif()
foreach(option ENABLE_BZIP2 ENABLE_LZMA ENABLE_ZSTD ENABLE_COMMONCRYPTO ENABLE_GNUTLS ENABLE_MBEDTLS
        ENABLE_OPENSSL ENABLE_WINDOWS_CRYPTO BUILD_TOOLS BUILD_REGRESS BUILD_EXAMPLES BUILD_DOC BUILD_SHARED_LIBS)
    set(${option} OFF CACHE BOOL "" FORCE)
endforeach()
set(CMAKE_POLICY_DEFAULT_CMP0063 NEW)
add_subdirectory(${VALDRUNE_LIBZIP_SOURCE} ${CMAKE_BINARY_DIR}/deps/libzip)  # defines libzip::zip
target_compile_options(zip PRIVATE -w)  # its own code, not ours to keep warning-free
set_target_properties(zip PROPERTIES SYSTEM TRUE)  # its headers too, as Linux's from /usr/include
