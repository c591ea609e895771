# The sample data package, the demo's data generator, and packaging with CPack.
#
# tools/zelk_datagen builds, from the readable sources in data-src/, the data package that lies
# beside the executable: <build>/package/ZELK_install.mdb and <build>/package/data/...
# (bd_info.txt, IMAGES, ZELK, menu.txt). scripts/demo.sh and the demo test use the same tool
# to lay out a simulated AutoCAD Electrical profile.

find_package(Qt6 REQUIRED COMPONENTS Core Gui Sql)

# A cross-build makes the data package with a host build of the generator (the build machine
# cannot run the target's executables). A Windows build's own generator also writes the
# databases as Jet 4.0 files (--jet, through ADO), which is how the release's install database
# is made on a Windows host (see README).
set(ZELK_HOST_DATAGEN "" CACHE FILEPATH "Host build of zelk_datagen that makes the data package")
add_executable(zelk_datagen tools/zelk_datagen.cpp)
target_link_libraries(zelk_datagen PRIVATE Qt6::Core Qt6::Gui Qt6::Sql)
if(WIN32)
    target_compile_definitions(zelk_datagen PRIVATE ZELK_DATAGEN_JET)
    target_link_libraries(zelk_datagen PRIVATE zelk_catalog)
endif()
zelk_qt_plugins(zelk_datagen)
if(ZELK_HOST_DATAGEN)
    set(zelk_datagen_cmd ${ZELK_HOST_DATAGEN})
    set(zelk_datagen_dep ${ZELK_HOST_DATAGEN})
elseif(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "A cross-build needs ZELK_HOST_DATAGEN (a host build of zelk_datagen)")
else()
    set(zelk_datagen_cmd $<TARGET_FILE:zelk_datagen>)
    set(zelk_datagen_dep zelk_datagen)
endif()

set(ZELK_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
file(GLOB_RECURSE zelk_data_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data-src/*)

# A sanitizer build runs the generator at build time too; Qt's plugin loader keeps a few
# allocations until exit, which the leak checker would report as a failed build step.
set(zelk_datagen_env)
if(ZELK_SANITIZE)
    set(zelk_datagen_env ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0)
endif()

# The package's own status file: the release it ships in, the oldest one the tool takes from
# the update server (a maker may put the signed status file of that release in its place).
set(zelk_package_status ${CMAKE_BINARY_DIR}/zelk-status_up.ini)
file(CONFIGURE OUTPUT ${zelk_package_status}
     CONTENT "[Update]\ndate_global=${zelk_release_date}\n" NEWLINE_STYLE CRLF)
add_custom_command(
    OUTPUT ${ZELK_PACKAGE_DIR}/ZELK_install.mdb
           ${ZELK_PACKAGE_DIR}/data/bd_info.txt
           ${ZELK_PACKAGE_DIR}/data/menu.txt
           ${ZELK_PACKAGE_DIR}/data/IMAGES/zelk.png
           ${ZELK_PACKAGE_DIR}/data/status_up.ini
    COMMAND ${zelk_datagen_env} ${zelk_datagen_cmd}
            --package ${CMAKE_SOURCE_DIR}/data-src ${ZELK_PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${zelk_package_status} ${ZELK_PACKAGE_DIR}/data/status_up.ini
    DEPENDS ${zelk_datagen_dep} ${zelk_data_sources} ${zelk_package_status}
    COMMENT "Building the sample data package in ${ZELK_PACKAGE_DIR}"
    VERBATIM)
add_custom_target(zelk_data_package ALL DEPENDS ${ZELK_PACKAGE_DIR}/ZELK_install.mdb)

# The demo test: the real window offscreen on a generated profile.
if(ZELK_BUILD_TESTS AND COMMAND zelk_test)
    zelk_test(test_demo demo zelk_view Qt6::Sql)
    if(TARGET test_demo)
        target_compile_definitions(test_demo PRIVATE
            ZELK_DATAGEN_PATH="${ZELK_TEST_ROOT}$<TARGET_FILE:zelk_datagen>"
            ZELK_PACKAGE_DIR="${ZELK_TEST_ROOT}${ZELK_PACKAGE_DIR}")
        add_dependencies(test_demo zelk_data_package zelk_datagen zelk_installer)
    endif()
    # The engine contract reads back the install database the generator writes for each engine.
    if(TARGET test_catalog)
        target_compile_definitions(test_catalog PRIVATE
            ZELK_DATAGEN_PATH="${ZELK_TEST_ROOT}$<TARGET_FILE:zelk_datagen>")
        add_dependencies(test_catalog zelk_datagen)
    endif()
endif()

# Packaging: the executable with its data package laid out beside it, as the tool expects.
install(TARGETS zelk_installer RUNTIME DESTINATION . BUNDLE DESTINATION .)
install(DIRECTORY ${ZELK_PACKAGE_DIR}/ DESTINATION .)
if(WIN32 AND NOT QT6_IS_SHARED_LIBS_BUILD)
    # A statically linked Qt comes with its licence and the notice of where its source is.
    install(FILES ${CMAKE_SOURCE_DIR}/docs/QT-LICENSE-NOTICE.txt
                  /usr/share/common-licenses/LGPL-3 /usr/share/common-licenses/GPL-3
            DESTINATION licenses)
endif()

set(CPACK_PACKAGE_NAME "ZELK_AE_install")
set(CPACK_PACKAGE_VENDOR "ZELK")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ZELK component catalog installer for AutoCAD Electrical 2016/2017")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The name of the ZIP says whether it is a release: cmake/ZelkPackageName.cmake.
set(CPACK_ZELK_INSTALL_DB ${ZELK_PACKAGE_DIR}/ZELK_install.mdb)
set(CPACK_ZELK_RELEASE ${ZELK_RELEASE})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/ZelkPackageName.cmake)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR TGZ)
endif()
include(CPack)
