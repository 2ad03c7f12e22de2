# libpng and zlib for the Windows presets (the rvo tool reads and writes PNG
# with the library the Linux build uses): Debian's source packages, cross-built
# once per build folder as static libraries, then found like the system's.
# The result is kept in ${CMAKE_BINARY_DIR}/winpng/ and reused by later
# configure runs.
set(RVO_WINPNG_DIR ${CMAKE_BINARY_DIR}/winpng)
set(RVO_WINPNG_PREFIX ${RVO_WINPNG_DIR}/install)

function(rvo_winpng_build name src target)
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${src} -B ${RVO_WINPNG_DIR}/build-${name} -G ${CMAKE_GENERATOR}
                        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
                        -DCMAKE_INSTALL_PREFIX=${RVO_WINPNG_PREFIX}
                        -DCMAKE_BUILD_TYPE=Release ${ARGN}
                    OUTPUT_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${RVO_WINPNG_DIR}/build-${name} --target ${target} -j 2
                        OUTPUT_QUIET RESULT_VARIABLE rc)
    endif()
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${name} did not build for ${CMAKE_SYSTEM_PROCESSOR} Windows")
    endif()
endfunction()

if(NOT EXISTS ${RVO_WINPNG_PREFIX}/lib/libpng.a)
    foreach(pkg zlib1g-dev libpng-dev)
        message(STATUS "${pkg} for ${CMAKE_SYSTEM_PROCESSOR} Windows: fetching Debian's source package")
        execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/deb-source.sh ${RVO_WINPNG_DIR} ${pkg}
                        OUTPUT_VARIABLE src OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "the source package of ${pkg} could not be fetched")
        endif()
        list(APPEND srcs ${src})
    endforeach()
    list(GET srcs 0 zsrc)
    list(GET srcs 1 pngsrc)
    message(STATUS "zlib for ${CMAKE_SYSTEM_PROCESSOR} Windows: building ${zsrc}")
    rvo_winpng_build(zlib ${zsrc} zlibstatic)
    file(GLOB zlib_a ${RVO_WINPNG_DIR}/build-zlib/libzlibstatic.a ${RVO_WINPNG_DIR}/build-zlib/libz.a)
    list(GET zlib_a 0 zlib_a)
    file(INSTALL ${zsrc}/zlib.h ${RVO_WINPNG_DIR}/build-zlib/zconf.h DESTINATION ${RVO_WINPNG_PREFIX}/include)
    file(MAKE_DIRECTORY ${RVO_WINPNG_PREFIX}/lib)
    file(COPY_FILE ${zlib_a} ${RVO_WINPNG_PREFIX}/lib/libz.a)
    message(STATUS "libpng for ${CMAKE_SYSTEM_PROCESSOR} Windows: building ${pngsrc}")
    rvo_winpng_build(libpng ${pngsrc} png_static -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF
                     -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY=${RVO_WINPNG_PREFIX}/lib/libz.a
                     -DZLIB_INCLUDE_DIR=${RVO_WINPNG_PREFIX}/include)
    # libpng16.a itself; libpng.a beside it is a link to it.
    file(GLOB png_a ${RVO_WINPNG_DIR}/build-libpng/libpng16*.a)
    list(GET png_a 0 png_a)
    file(INSTALL ${pngsrc}/png.h ${pngsrc}/pngconf.h ${RVO_WINPNG_DIR}/build-libpng/pnglibconf.h
         DESTINATION ${RVO_WINPNG_PREFIX}/include)
    file(COPY_FILE ${png_a} ${RVO_WINPNG_PREFIX}/lib/libpng.a)
endif()

set(ZLIB_INCLUDE_DIR ${RVO_WINPNG_PREFIX}/include CACHE PATH "" FORCE)
set(ZLIB_LIBRARY ${RVO_WINPNG_PREFIX}/lib/libz.a CACHE FILEPATH "" FORCE)
set(ZLIB_LIBRARY_RELEASE ${RVO_WINPNG_PREFIX}/lib/libz.a CACHE FILEPATH "" FORCE)
set(PNG_PNG_INCLUDE_DIR ${RVO_WINPNG_PREFIX}/include CACHE PATH "" FORCE)
set(PNG_LIBRARY ${RVO_WINPNG_PREFIX}/lib/libpng.a CACHE FILEPATH "" FORCE)
set(PNG_LIBRARY_RELEASE ${RVO_WINPNG_PREFIX}/lib/libpng.a CACHE FILEPATH "" FORCE)
