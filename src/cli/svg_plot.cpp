#include "cli/svg_plot.hpp"

#include <charconv>
#include <string_view>

namespace kelvarin::cli {

namespace {

const char* colourName(Colour c) {
    switch (c) {
        case Colour::Window:
            return "#f0f0f0";
        case Colour::Blue:
            return "#0000ff";
        case Colour::White:
            return "#ffffff";
        case Colour::Black:
            return "#000000";
        case Colour::Red:
            return "#ff0000";
        case Colour::Green:
            return "#008000";
        case Colour::Yellow:
            return "#ffff00";
        case Colour::Navy:
            return "#000080";
        case Colour::Fuchsia:
            return "#ff00ff";
        case Colour::Gray:
            return "#808080";
    }
    return "#000000";
}

/// Length of the well-formed UTF-8 sequence at the start of `text` that XML 1.0 may hold, or 0.
std::size_t xmlCharLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    std::size_t length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return 0;
        code = (code << 6) | (byte(i) & 0x3Fu);
    }
    const char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (code < least[length] || code > 0x10FFFF || surrogate || code == 0xFFFE || code == 0xFFFF)
        return 0;
    return length;
}

/// `text` as XML character data: markup characters escaped, and every byte that is not part of
/// a character XML can hold (control characters, text that is not UTF-8, as a file name may be)
/// replaced by U+FFFD.
std::string escaped(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const std::size_t n = xmlCharLength(text);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
            continue;
        }
        switch (text[0]) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out.append(text.substr(0, n));
        }
        text.remove_prefix(n);
    }
    return out;
}

/// Pixel centre: a one-pixel pen on whole coordinates covers the pixel, as on screen.
std::string px(int v) {
    return std::to_string(v) + ".5";
}

/// A text at its anchor; a rotated one reads from bottom to top.
std::string textElement(const DrawOp& op) {
    const std::string x = std::to_string(op.x1);
    const std::string y = std::to_string(op.y1);
    std::string anchor = "middle";
    std::string baseline = "hanging";
    std::string extra;
    switch (op.anchor) {
        case TextAnchor::TopCentre:
            break;
        case TextAnchor::BottomCentre:
            baseline = "auto";
            break;
        case TextAnchor::RightMiddle:
            anchor = "end";
            baseline = "middle";
            break;
        case TextAnchor::LeftMiddle:
            anchor = "start";
            baseline = "middle";
            break;
        case TextAnchor::CentreRotated:
            baseline = "middle";
            extra = " transform=\"rotate(-90 " + x + " " + y + ")\"";
            break;
    }
    return "<text x=\"" + x + "\" y=\"" + y + "\" text-anchor=\"" + anchor +
           "\" dominant-baseline=\"" + baseline + "\" fill=\"" + colourName(op.pen) + "\"" + extra +
           ">" + escaped(op.text) + "</text>\n";
}

}  // namespace

std::string canvasToSvg(const Canvas& canvas, const std::string& title) {
    const std::string w = std::to_string(canvas.fullWidth());
    const std::string h = std::to_string(canvas.fullHeight());
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
           "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
    svg += "<title>" + escaped(title) + "</title>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    // Operations are in the coordinates of the plotting area, inside the margins.
    svg += "<g transform=\"translate(" + std::to_string(canvas.margins().left) + " " +
           std::to_string(canvas.margins().top) + ")\" font-family=\"sans-serif\" " +
           "font-size=\"11\">\n";

    const auto& ops = canvas.ops();
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const DrawOp& op = ops[i];
        switch (op.kind) {
            case DrawKind::Rectangle:
                // The box covers x1..x2 − 1 and y1..y2 − 1, outline included.
                svg += "<rect x=\"" + px(op.x1) + "\" y=\"" + px(op.y1) + "\" width=\"" +
                       std::to_string(op.x2 - op.x1 - 1) + "\" height=\"" +
                       std::to_string(op.y2 - op.y1 - 1) + "\" fill=\"" + colourName(op.brush) +
                       "\" stroke=\"" + colourName(op.pen) + "\"/>\n";
                break;
            case DrawKind::MoveTo:
                break;
            case DrawKind::Segment:
                svg += "<line x1=\"" + px(op.x1) + "\" y1=\"" + px(op.y1) + "\" x2=\"" + px(op.x2) +
                       "\" y2=\"" + px(op.y2) + "\" stroke=\"" + colourName(op.pen) + "\"/>\n";
                break;
            case DrawKind::Text:
                svg += textElement(op);
                break;
            case DrawKind::LineTo: {
                // Consecutive lines in one colour, each starting where the last ended.
                std::string points =
                    px(op.x2) + "," + px(op.y2) + " " + px(op.x1) + "," + px(op.y1);
                std::size_t j = i + 1;
                while (j < ops.size() && ops[j].kind == DrawKind::LineTo && ops[j].pen == op.pen &&
                       ops[j].x2 == ops[j - 1].x1 && ops[j].y2 == ops[j - 1].y1) {
                    // A line of no length draws nothing a polyline would not.
                    if (ops[j].x1 != ops[j].x2 || ops[j].y1 != ops[j].y2)
                        points += " " + px(ops[j].x1) + "," + px(ops[j].y1);
                    ++j;
                }
                svg += "<polyline fill=\"none\" stroke=\"" + std::string(colourName(op.pen)) +
                       "\" points=\"" + points + "\"/>\n";
                i = j - 1;
                break;
            }
            case DrawKind::Ellipse: {
                const double cx = (op.x1 + op.x2) / 2.0 + 0.5;
                const double cy = (op.y1 + op.y2) / 2.0 + 0.5;
                const double rx = (op.x2 - op.x1) / 2.0;
                const double ry = (op.y2 - op.y1) / 2.0;
                auto num = [](double v) {
                    char buffer[32];
                    const auto res = std::to_chars(buffer, buffer + sizeof buffer, v);
                    return std::string(buffer, res.ptr);
                };
                svg += "<ellipse cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" rx=\"" + num(rx) +
                       "\" ry=\"" + num(ry) + "\" fill=\"" + colourName(op.brush) + "\" stroke=\"" +
                       colourName(op.pen) + "\"/>\n";
                break;
            }
        }
    }
    svg += "</g>\n</svg>\n";
    return svg;
}

}  // namespace kelvarin::cli
