#pragma once

// A colour as archived by the original platform (class "NSColor"), used in
// calibrated RGB. A colour keeps the colour space and components it was made
// or read with, and every key of its archived record, so a colour read from a
// file writes back in the same form; calibratedRGB() answers its value.
//
// Archived form: "NSColorSpace" (integer) and, by space,
//   1 calibrated RGB, 2 device RGB:   "NSRGB"   "r g b[ a]"
//   3 calibrated white, 4 device white: "NSWhite" "w[ a]"
//   5 device CMYK:                     "NSCMYK"  "c m y k[ a]"
//   6 catalog: "NSCatalogName", "NSColorName" (strings) and "NSColor" (the
//     fallback colour, which gives the value)
//   component-based colours: "NSComponents" "c1 ... cn a" with
//     "NSCustomColorSpace" and further keys, carried through as read.
// Components are ASCII decimal numbers separated by blanks and ended by a
// NUL; alpha is written only when it is not 1.
//
// Colours are immutable and may be shared between threads.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/archive/Archivable.h"
#include "platform/archive/ArchiveField.h"

namespace tollvane {

class KeyedUnarchiver;

class Color : public Archivable {
public:
    enum ColorSpace : int64_t {
        CalibratedRGB = 1,
        DeviceRGB = 2,
        CalibratedWhite = 3,
        DeviceWhite = 4,
        DeviceCMYK = 5,
        Catalog = 6,
        ComponentBased = 10,
    };

    struct RGBA {
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
        double alpha = 1.0;
        bool operator==(const RGBA&) const = default;
    };

    static std::shared_ptr<Color> calibrated(double red, double green, double blue, double alpha = 1.0);
    static std::shared_ptr<Color> deviceRGB(double red, double green, double blue, double alpha = 1.0);
    static std::shared_ptr<Color> calibratedWhite(double white, double alpha = 1.0);
    static std::shared_ptr<Color> deviceWhite(double white, double alpha = 1.0);
    static std::shared_ptr<Color> deviceCMYK(double cyan, double magenta, double yellow, double black,
                                             double alpha = 1.0);
    static std::shared_ptr<Color> catalog(std::string catalogName, std::string colorName,
                                          std::shared_ptr<Color> fallback);

    // The colour at the root of archived colour data (as user defaults and
    // events store colours); null when the data is no archive or its root is
    // no colour. Never throws: any error while reading answers null.
    static std::shared_ptr<Color> fromArchivedData(const Data& data);
    // A keyed archive whose root is this colour.
    Data archivedData() const;

    // The factory registered for "NSColor". Throws ArchiveError for keys of
    // the wrong type.
    static std::shared_ptr<Archivable> decode(KeyedUnarchiver& coder);

    std::string archiveClassName() const override { return "NSColor"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;

    // The "NSColorSpace" number (any number read from a file is kept).
    int64_t colorSpace() const { return colorSpace_; }
    // The components as made or read, alpha included when it was given.
    const std::vector<double>& components() const { return components_; }
    // Catalog colours only.
    const std::string& catalogName() const { return catalogName_; }
    const std::string& colorName() const { return colorName_; }
    const std::shared_ptr<Color>& fallbackColor() const { return fallback_; }

    // The value in calibrated RGB.
    const RGBA& calibratedRGB() const { return rgb_; }
    double redComponent() const { return rgb_.red; }
    double greenComponent() const { return rgb_.green; }
    double blueComponent() const { return rgb_.blue; }
    double alphaComponent() const { return rgb_.alpha; }
    // Hue, saturation and brightness (0 to 1) of the calibrated RGB value.
    double hueComponent() const;
    double saturationComponent() const;
    double brightnessComponent() const;
    // A plain calibrated RGB colour of the same value.
    std::shared_ptr<Color> colorUsingCalibratedRGB() const;

    // The keyed fields written for this colour, in order.
    const ArchiveFields& archivedFields() const { return fields_; }

    // Same colour space, components, catalog names and value.
    bool operator==(const Color& other) const;
    bool operator!=(const Color& other) const { return !(*this == other); }

private:
    struct Token {};

public:
    explicit Color(Token) {}

private:
    // How the components are read: by the colour space, by their count, or
    // as a given model.
    enum class Model { FromColorSpace, FromComponentCount, None, RGB, White, CMYK };

    static std::shared_ptr<Color> withComponents(int64_t colorSpace, const char* key,
                                                 std::vector<double> components);
    void computeRGB(Model model);

    int64_t colorSpace_ = 0;
    std::vector<double> components_;
    std::string catalogName_;
    std::string colorName_;
    std::shared_ptr<Color> fallback_;
    RGBA rgb_;
    ArchiveFields fields_;
};

}  // namespace tollvane
