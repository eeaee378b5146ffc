# cmake --install BUILD [--prefix DIR]: the libraries, their headers and a
# CMake package configuration, so that another CMake project does
#   find_package(Corvane 0.1 REQUIRED)
#   target_link_libraries(app PRIVATE Corvane::detector)   # or Corvane::core
# with DIR in its CMAKE_PREFIX_PATH. What lands under DIR (component
# "development"; --component development installs it alone):
#   include/corvane/*.h                  the core's and the detector's headers
#   lib/libcorvane_{core,math,setup}.a   the static libraries
#   lib/cmake/Corvane/                   CorvaneConfig.cmake, its version file
#                                        and the exported targets
# The consumer includes them as <corvane/Detector.h>, <corvane/UpdateModel.h>.
#
# Exported targets:
#   Corvane::core      the model update (UpdateModel.h, ModelCheck.h,
#                      BackgroundModel.h), with the correctly rounded exp and
#                      log (Corvane::math) and the threads library
#   Corvane::detector  the parameters, the start and the per-video Detector
#                      (Detector.h, ModelSetup.h, ...); brings Corvane::core
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

set(CORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
set(CORVANE_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/corvane)

set_target_properties(corvane_core PROPERTIES EXPORT_NAME core)
set_target_properties(corvane_math PROPERTIES EXPORT_NAME math)
set_target_properties(corvane_setup PROPERTIES EXPORT_NAME detector)
# A project that adds this tree with add_subdirectory() links the same names.
add_library(Corvane::core ALIAS corvane_core)
add_library(Corvane::math ALIAS corvane_math)
add_library(Corvane::detector ALIAS corvane_setup)

install(TARGETS corvane_core corvane_math corvane_setup EXPORT CorvaneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The headers a host includes: those of core/include/ and setup/ (the
# core's internal/ and math/ headers are its own). They include each other by
# their bare names, which resolve next to them in include/corvane.
file(GLOB corvane_public_headers CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/core/include/*.h ${PROJECT_SOURCE_DIR}/setup/*.h)
install(FILES ${corvane_public_headers} DESTINATION ${CORVANE_INCLUDE_DIR}
        COMPONENT development)

install(EXPORT CorvaneTargets NAMESPACE Corvane:: DESTINATION ${CORVANE_CMAKE_DIR}
        FILE CorvaneTargets.cmake COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/CorvaneConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/cmake/CorvaneConfig.cmake
                              INSTALL_DESTINATION ${CORVANE_CMAKE_DIR})
# 0.x: a consumer asking for 0.1 takes 0.1.y only.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/CorvaneConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/CorvaneConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake/CorvaneConfigVersion.cmake
        DESTINATION ${CORVANE_CMAKE_DIR} COMPONENT development)
