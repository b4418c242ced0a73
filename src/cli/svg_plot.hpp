// The calculation window's plot as an SVG picture, drawn from the drawing operations the window
// recorded on its canvas, so the picture shows exactly what the window shows.
#pragma once

#include <string>

#include "results/canvas.hpp"

namespace kelvarin::cli {

/// SVG document of `canvas` (its size in pixels, one element per recorded operation; runs of
/// lines in one colour become one polyline). `title` goes into the document's <title>, its markup
/// escaped and whatever XML cannot hold (control characters, bytes that are not UTF-8) replaced
/// by U+FFFD, so the document stays well-formed whatever the job file is called.
std::string canvasToSvg(const Canvas& canvas, const std::string& title);

}  // namespace kelvarin::cli
