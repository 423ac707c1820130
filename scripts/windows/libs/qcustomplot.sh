# QCustomPlot 2.1.0 from Debian's qcustomplot source with Debian's patches (its Qt 6 build among them),
# a DLL against the Qt built above, found by the project as QCustomPlotQt6::QCustomPlotQt6 as on Debian.
build_recipe() {
    local src qt; src="$(source_dir qcustomplot)"; qt="$(dep_prefix qtbase)"
    mkdir -p "$work/project"
    cat >"$work/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(qcustomplot VERSION 2.1.0 LANGUAGES CXX)
set(CMAKE_AUTOMOC ON)
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
add_library(QCustomPlotQt6 SHARED "$src/qcustomplot.cpp" "$src/qcustomplot.h")
target_compile_definitions(QCustomPlotQt6 PRIVATE QCUSTOMPLOT_COMPILE_LIBRARY)
target_include_directories(QCustomPlotQt6 INTERFACE \\\$<INSTALL_INTERFACE:include>)
target_link_libraries(QCustomPlotQt6 PUBLIC Qt6::Widgets Qt6::PrintSupport)
install(TARGETS QCustomPlotQt6 EXPORT QCustomPlotQt6Targets
        RUNTIME DESTINATION bin ARCHIVE DESTINATION lib LIBRARY DESTINATION lib)
install(FILES "$src/qcustomplot.h" DESTINATION include)
install(EXPORT QCustomPlotQt6Targets NAMESPACE QCustomPlotQt6:: DESTINATION lib/cmake/QCustomPlotQt6
        FILE QCustomPlotQt6Config.cmake)
CMAKE
    cmake_cross "$work/project" "$work/build" "$prefix" -DCMAKE_PREFIX_PATH="$qt" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    build_install "$work/build"
}
