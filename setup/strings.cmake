# The user-interface texts: the language choice and one table per language.
target_sources(setup_app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/LangStrings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_en.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_zh_TW.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_zh_CN.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_ja.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_fr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_de.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_ru.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_cs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_es.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_hu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_it.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_nl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_nb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_pl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_pt_BR.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lang/Lang_sv.cpp
)
