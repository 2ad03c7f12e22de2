# libjpeg for the Windows presets: Debian's libjpeg-turbo source package (the
# 6b API the Linux build uses), cross-built once per build folder as a static
# library with its SIMD code, then found like the system's. The result is kept
# in ${CMAKE_BINARY_DIR}/winjpeg/ and reused by later configure runs.
set(RVO_WINJPEG_DIR ${CMAKE_BINARY_DIR}/winjpeg)
set(RVO_WINJPEG_PREFIX ${RVO_WINJPEG_DIR}/install)

if(NOT EXISTS ${RVO_WINJPEG_PREFIX}/lib/libjpeg.a)
    message(STATUS "libjpeg for ${CMAKE_SYSTEM_PROCESSOR} Windows: fetching Debian's source package")
    execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/deb-source.sh ${RVO_WINJPEG_DIR} libjpeg62-turbo-dev
                    OUTPUT_VARIABLE src OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "the libjpeg-turbo source package could not be fetched")
    endif()
    message(STATUS "libjpeg for ${CMAKE_SYSTEM_PROCESSOR} Windows: building ${src}")
    # The default Windows-style install prefix breaks the configure step under a
    # cross toolchain; one under the build folder does not.
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${src} -B ${RVO_WINJPEG_DIR}/build -G ${CMAKE_GENERATOR}
                        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
                        -DCMAKE_INSTALL_PREFIX=${RVO_WINJPEG_PREFIX}
                        -DCMAKE_BUILD_TYPE=Release
                        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
                        -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DWITH_JPEG7=OFF
                    OUTPUT_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${RVO_WINJPEG_DIR}/build --target jpeg-static -j 2
                        OUTPUT_QUIET RESULT_VARIABLE rc)
    endif()
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "libjpeg-turbo did not build for ${CMAKE_SYSTEM_PROCESSOR} Windows")
    endif()
    file(INSTALL ${src}/jpeglib.h ${src}/jmorecfg.h ${src}/jerror.h ${RVO_WINJPEG_DIR}/build/jconfig.h
         DESTINATION ${RVO_WINJPEG_PREFIX}/include)
    file(INSTALL ${RVO_WINJPEG_DIR}/build/libjpeg.a DESTINATION ${RVO_WINJPEG_PREFIX}/lib)
endif()

set(JPEG_INCLUDE_DIR ${RVO_WINJPEG_PREFIX}/include CACHE PATH "" FORCE)
set(JPEG_LIBRARY ${RVO_WINJPEG_PREFIX}/lib/libjpeg.a CACHE FILEPATH "" FORCE)
