# The user-interface texts and the language choice. The choice reads the
# debug configuration in Documents, hence the documents lock.
orvane_add_gtest(setup_strings_tests SOURCES strings_test.cpp LIBS setup_app LOCK documents)

# The same choice in Wine processes started under other locales: Wine takes
# the system language from the process's Unix locale.
foreach(run "de_DE;0x0407;GER" "ca_ES;0x0403;ESP" "zh_CN;0x0804;CHS" "zh_SG;0x1004;CHT"
            "pt_PT;0x0816;BRA" "nb_NO;0x0414;NOR" "ja_JP;0x0411;JPN" "el_GR;0x0408;ENU")
  list(GET run 0 locale)
  list(GET run 1 langid)
  list(GET run 2 code)
  add_test(NAME setup_strings_locale_${locale}
    COMMAND setup_strings_tests --gtest_filter=LangStringsTest.SystemLanguageFollowsTheLocale)
  set_tests_properties(setup_strings_locale_${locale} PROPERTIES
    TIMEOUT 120 RESOURCE_LOCK documents
    ENVIRONMENT "LANG=${locale}.UTF-8;LC_ALL=${locale}.UTF-8;ORVANE_EXPECT_LANGID=${langid};ORVANE_EXPECT_LANG_CODE=${code}")
endforeach()

# A review aid for the translations (not run by CTest): every text in the box
# the dialog gives it, as figures and as a bitmap.
add_executable(lang_layout_sheet lang_layout_sheet.cpp)
target_link_libraries(lang_layout_sheet PRIVATE setup_app gdi32)
target_link_options(lang_layout_sheet PRIVATE -municode)
