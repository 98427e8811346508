#pragma once
// The speed report's chart, as the speed report tab shows it and zorvctl
// report show --png draws it: one green curve of the MB/s of every line
// against its line number, axes "Second" and "MB/S".

#include <QChart>

#include <string>

#include "workload/speed_report_view.h"

namespace zorv::app {

// A new chart of the view's points (the caller owns it).
QChart* makeSpeedChart(const SpeedReportView& view);

// Draws the chart offscreen into a PNG file of width x height, also in a
// program without an application object (zorvctl). False with error set when
// the picture cannot be written.
bool renderSpeedChart(const SpeedReportView& view, const std::string& pngPath, std::string& error, int width = 1000,
                      int height = 600);

}  // namespace zorv::app
