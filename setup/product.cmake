# The product definition: the description object and its two variants
# (the compiled-in constants are ProductConfig.cpp, listed with the library).
target_sources(setup_app PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ProductInfo.cpp)
# What the product steps share: bounded program starts, wide registry texts.
target_sources(setup_app PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ProductStepsSupport.cpp)
