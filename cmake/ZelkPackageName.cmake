# Read by CPack as it packs (CPACK_PROJECT_CONFIG_FILE), once for each generator. A ZIP is named
# as a release only when it comes from a release build (ZELK_RELEASE: the maker's update key)
# and the install database it carries is a Jet 4.0 file: the Windows tool opens nothing else.
# One made with the SQLite stand-in's database (every build on a machine without Jet, the
# cross-build on Linux among them), or by a build that trusts the test key, is named a test
# package.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(zelk_jet_file FALSE)
    if(EXISTS "${CPACK_ZELK_INSTALL_DB}")
        # A Jet database file holds "Standard Jet DB" and a zero byte from offset 4, and at
        # offset 20 its version, 1 for Jet 4.0 (SQLite's files begin "SQLite format 3").
        file(READ "${CPACK_ZELK_INSTALL_DB}" zelk_head LIMIT 21 HEX)
        string(LENGTH "${zelk_head}" zelk_len)
        if(zelk_len EQUAL 42)
            string(SUBSTRING "${zelk_head}" 8 34 zelk_sig)
            if(zelk_sig STREQUAL "5374616e64617264204a65742044420001")
                set(zelk_jet_file TRUE)
            endif()
        endif()
    endif()
    if(NOT zelk_jet_file OR NOT CPACK_ZELK_RELEASE)
        set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-test-package")
        if(NOT CPACK_ZELK_RELEASE)
            message(STATUS "Not a release build (ZELK_RELEASE): the ZIP is a test package")
        else()
            message(STATUS "ZELK_install.mdb is not a Jet 4.0 file: "
                           "the ZIP is a test package, not a release")
        endif()
    endif()
endif()
