# What `cmake --install` puts under the prefix, and the packages CPack makes:
#   bin/rvo                      the tool
#   lib/rvo/rvoplugin.so         the module, for a host that loads it
#   share/man/man1/rvo.1.gz      made by help2man from `rvo --help` and each subcommand's --help
#   share/doc/rvo/               the user guide (docs/user-guide.md as README.md), the tool in detail (rvo-tool.md), the copyright and changelog
#   share/mime/packages/rvo.xml  the video/x-rvo type (glob *.rvo and the magic) for shared-mime-info
#   share/thumbnailers/rvo.thumbnailer  the desktop's thumbnailer: PREFIX/bin/rvo thumbnail
#   the GStreamer plugin libgstrvo.so, when it is built: in the system's plugin
#   folder (pkg-config's pluginsdir of gstreamer-1.0) under /usr, in the same
#   folder below any other prefix (PREFIX/lib/x86_64-linux-gnu/gstreamer-1.0:
#   set GST_PLUGIN_PATH to it)
#   the `rvo` Python module and its stubs (rvo.pyi), when it is built, in the
#   interpreter's site folder for the prefix: lib/python3/dist-packages under
#   /usr and lib/python3.X/dist-packages elsewhere for Debian's interpreter
#   (what its sys.path holds: /usr/local/lib/python3.X/dist-packages), else
#   lib/python3.X/site-packages; RVO_PYTHON_INSTALL_DIR sets it. The install
#   prints the folder to put in PYTHONPATH.
# The tool links the module core in and only system libraries beside it, so an
# installed tree needs nothing from the checkout.
install(TARGETS rvo_cli RUNTIME DESTINATION bin)
install(TARGETS rvoplugin LIBRARY DESTINATION lib/rvo
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(FILES ${CMAKE_SOURCE_DIR}/package/desktop/rvo-mime.xml DESTINATION share/mime/packages RENAME rvo.xml)
# The thumbnailer names the installed tool by its full path: a sandboxed
# thumbnailer (GNOME's) sees /usr only, and no one's PATH.
install(CODE "
    file(READ \"${CMAKE_SOURCE_DIR}/package/desktop/rvo.thumbnailer\" text)
    string(REPLACE \"/usr/bin/rvo\" \"\${CMAKE_INSTALL_PREFIX}/bin/rvo\" text \"\${text}\")
    file(WRITE \"${CMAKE_BINARY_DIR}/doc/rvo.thumbnailer\" \"\${text}\")
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/thumbnailers\" TYPE FILE
         FILES \"${CMAKE_BINARY_DIR}/doc/rvo.thumbnailer\")
")
if(TARGET gstrvo)
    string(REGEX REPLACE "^/usr/" "" RVO_GST_INSTALL_DIR "${RVO_GST_PLUGINS_DIR}")
    install(TARGETS gstrvo LIBRARY DESTINATION ${RVO_GST_INSTALL_DIR}
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()

if(TARGET rvo_python)
    execute_process(COMMAND ${RVO_PYTHON_EXECUTABLE} -c "import sysconfig; print('deb_system' in sysconfig.get_scheme_names())"
                    OUTPUT_VARIABLE RVO_PYTHON_DEBIAN OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(RVO_PYTHON_INSTALL_DIR "" CACHE STRING "where the rvo Python module is installed (relative to the prefix, or absolute); empty: the interpreter's site folder for the prefix")
    install(CODE "
        set(dir \"${RVO_PYTHON_INSTALL_DIR}\")
        if(NOT dir)
            if(\"${RVO_PYTHON_DEBIAN}\" STREQUAL \"True\" AND CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
                set(dir lib/python3/dist-packages)
            elseif(\"${RVO_PYTHON_DEBIAN}\" STREQUAL \"True\")
                set(dir lib/python${RVO_PYTHON_VERSION}/dist-packages)
            else()
                set(dir lib/python${RVO_PYTHON_VERSION}/site-packages)
            endif()
        endif()
        if(NOT IS_ABSOLUTE \"\${dir}\")
            set(dir \"\${CMAKE_INSTALL_PREFIX}/\${dir}\")
        endif()
        file(INSTALL DESTINATION \"\${dir}\" TYPE MODULE
             FILES \"$<TARGET_FILE:rvo_python>\" \"${CMAKE_SOURCE_DIR}/python/rvo.pyi\")
        # install(CODE) is not stripped by --strip or the package: strip it as Debian strips a shared object.
        if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note --strip-unneeded
                                    \"\$ENV{DESTDIR}\${dir}/$<TARGET_FILE_NAME:rvo_python>\" RESULT_VARIABLE rc)
            if(NOT rc EQUAL 0)
                message(FATAL_ERROR \"strip of the rvo Python module failed\")
            endif()
        endif()
        message(STATUS \"rvo Python module for ${RVO_PYTHON_EXECUTABLE}: \${dir} (PYTHONPATH=\${dir})\")
    ")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3 (>= ${RVO_PYTHON_VERSION}), python3 (<< ${RVO_PYTHON_NEXT_VERSION}), python3-numpy")
endif()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/doc)
find_program(RVO_HELP2MAN help2man)
if(RVO_HELP2MAN)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/rvo.1.gz
        COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/manpage.sh ${RVO_HELP2MAN} $<TARGET_FILE:rvo_cli>
                ${CMAKE_BINARY_DIR}/doc/rvo.1.gz
        DEPENDS rvo_cli ${CMAKE_SOURCE_DIR}/scripts/manpage.sh
        COMMENT "Man page rvo.1 from rvo --help")
    add_custom_target(rvo_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/rvo.1.gz)
    install(FILES ${CMAKE_BINARY_DIR}/doc/rvo.1.gz DESTINATION share/man/man1)
else()
    message(WARNING "help2man not found (scripts/bootstrap.sh installs it): the install has no man page")
endif()

# Debian wants the changelog compressed, without a time stamp.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
    COMMAND gzip -9n < ${CMAKE_SOURCE_DIR}/package/debian/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/package/debian/changelog)
add_custom_target(rvo_userdoc ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
# The user guide is the installed README; the checkout's README is for working on the module.
install(FILES ${CMAKE_SOURCE_DIR}/docs/user-guide.md DESTINATION share/doc/rvo RENAME README.md)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz
              ${CMAKE_SOURCE_DIR}/docs/rvo-tool.md ${CMAKE_SOURCE_DIR}/package/debian/copyright
        DESTINATION share/doc/rvo)

# The Debian package of this build: the tree above under /usr, its
# dependencies found by dpkg-shlibdeps from what the binaries link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rvo)
set(CPACK_PACKAGE_VENDOR "rvo maintainers")
set(CPACK_PACKAGE_CONTACT "rvo maintainers <maintainers@users.noreply.c-seed-10739ec0.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "tool and host module for RVO movie files
RVO is a movie container for frames of 32-bit BGRA pixels, each frame stored
on its own as JPEG pictures with alpha, raw records or lossless run-length
records. The rvo tool shows, writes, reads, verifies and preloads RVO files
and converts them to and from raw frames for ffmpeg. The package also holds
rvoplugin.so, the module a video host loads to read and write RVO files,
the rvo Python module, which reads and writes them as numpy frames, and a
GStreamer plugin with which players and pipelines read and write them, and
the video/x-rvo type and its thumbnailer for the desktop.")
set(CPACK_PACKAGE_FILE_NAME rvo-${PROJECT_VERSION})
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

# The Windows zip, packed from the win32 and win64 build folders by
# `cpack --config CPackWindowsConfig.cmake` (make package runs both).
set(RVO_WIN32_BUILD ${CMAKE_SOURCE_DIR}/build-win32 CACHE PATH "build folder of the win32 preset, for the Windows zip")
set(RVO_WIN64_BUILD ${CMAKE_SOURCE_DIR}/build-win64 CACHE PATH "build folder of the win64 preset, for the Windows zip")
find_program(RVO_WIN32_STRIP i686-w64-mingw32-strip)
find_program(RVO_WIN64_STRIP x86_64-w64-mingw32-strip)
configure_file(${CMAKE_SOURCE_DIR}/package/windows/CPackWindowsConfig.cmake.in
               ${CMAKE_BINARY_DIR}/CPackWindowsConfig.cmake @ONLY)

# The install tree as a user gets it, checked in the release build: installed
# to a scratch prefix, the tool run from outside the checkout.
if(NOT RVO_SANITIZE)
    add_test(NAME install_tree COMMAND bash ${CMAKE_SOURCE_DIR}/tests/cli/rvo_install_test.sh
             ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/scratch ${PROJECT_VERSION}
             $<$<TARGET_EXISTS:rvo_python>:${RVO_PYTHON_EXECUTABLE}>)
    set_tests_properties(install_tree PROPERTIES TIMEOUT 120)
endif()
