# Fills the Windows zip (run by CPack with CMAKE_INSTALL_PREFIX at its staging
# folder). A missing DLL or licence stops the package: a zip without them is
# not one to hand out.
set(out ${CMAKE_INSTALL_PREFIX})

foreach(arch win32 win64)
    string(TOUPPER ${arch} ARCH)
    set(dll ${CPACK_RVO_${ARCH}_BUILD}/rvoplugin.dll)
    if(NOT EXISTS ${dll})
        message(FATAL_ERROR "${dll} is missing: build the ${arch} preset first (make package does)")
    endif()
    file(INSTALL ${dll} DESTINATION ${out}/${arch})
    # The build keeps the runtime libraries' debug sections; the host needs none
    # of them (the export table is not a symbol table and stays).
    set(strip ${CPACK_RVO_${ARCH}_STRIP})
    if(NOT strip)
        message(FATAL_ERROR "no mingw-w64 strip for ${arch} (binutils-mingw-w64)")
    endif()
    execute_process(COMMAND ${strip} ${out}/${arch}/rvoplugin.dll RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${strip} failed on the ${arch} rvoplugin.dll")
    endif()
    # rvo.exe, the tool, beside the DLL, stripped alike.
    set(exe ${CPACK_RVO_${ARCH}_BUILD}/rvo.exe)
    if(NOT EXISTS ${exe})
        message(FATAL_ERROR "${exe} is missing: build the ${arch} preset first (make package does)")
    endif()
    file(INSTALL ${exe} DESTINATION ${out}/${arch})
    execute_process(COMMAND ${strip} ${out}/${arch}/rvo.exe RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${strip} failed on the ${arch} rvo.exe")
    endif()
endforeach()
file(INSTALL ${CPACK_RVO_SOURCE_DIR}/package/windows/README.txt DESTINATION ${out})

# libjpeg-turbo: the licence files of the Debian source tree the Windows build
# unpacked and cross-built.
file(GLOB jpegsrc LIST_DIRECTORIES true ${CPACK_RVO_WIN32_BUILD}/winjpeg/src/libjpeg-turbo-*)
list(FILTER jpegsrc EXCLUDE REGEX "\\.(gz|xz|dsc)$")
list(LENGTH jpegsrc n)
if(NOT n EQUAL 1)
    message(FATAL_ERROR "the libjpeg-turbo source tree is not in ${CPACK_RVO_WIN32_BUILD}/winjpeg/src")
endif()
file(INSTALL ${jpegsrc}/LICENSE.md ${jpegsrc}/README.ijg DESTINATION ${out}/licences/libjpeg-turbo)
file(INSTALL ${jpegsrc}/debian/copyright DESTINATION ${out}/licences/libjpeg-turbo)

# libpng and zlib, which rvo.exe links in: their Debian source trees likewise.
foreach(pair "libpng1.6-*;LICENSE;libpng" "zlib-*;LICENSE;zlib")
    list(GET pair 0 pattern)
    list(GET pair 1 licence)
    list(GET pair 2 name)
    file(GLOB src LIST_DIRECTORIES true ${CPACK_RVO_WIN32_BUILD}/winpng/src/${pattern})
    list(FILTER src EXCLUDE REGEX "\\.(gz|xz|bz2|dsc)$")
    list(LENGTH src n)
    if(NOT n EQUAL 1)
        message(FATAL_ERROR "the ${name} source tree is not in ${CPACK_RVO_WIN32_BUILD}/winpng/src")
    endif()
    file(INSTALL ${src}/${licence} ${src}/debian/copyright DESTINATION ${out}/licences/${name})
endforeach()

# The mingw-w64 runtime and winpthreads, and GCC's libgcc and libstdc++
# (runtime library exception), as Debian's packages state them.
foreach(pair "mingw-w64-i686-dev;mingw-w64" "gcc-mingw-w64-base;gcc-runtime")
    list(GET pair 0 pkg)
    list(GET pair 1 name)
    if(NOT EXISTS /usr/share/doc/${pkg}/copyright)
        message(FATAL_ERROR "/usr/share/doc/${pkg}/copyright is missing")
    endif()
    file(INSTALL /usr/share/doc/${pkg}/copyright DESTINATION ${out}/licences/${name})
endforeach()
