#include "platform/archive/Color.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/archive/ArchiveError.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {

namespace {

// More components than any colour space has are ignored.
constexpr size_t kMaxComponents = 16;

// "r g b[ a]" as the platform writes it: ten significant digits, no
// trailing zeros, alpha only when it is not 1, a NUL at the end.
Data componentText(std::vector<double> components, double alpha) {
    if (alpha != 1.0) components.push_back(alpha);
    std::string text;
    for (double value : components) {
        char buffer[32];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
        if (!text.empty()) text += ' ';
        text.append(buffer, result.ptr);
    }
    Data data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

std::vector<double> parseComponents(const Data& bytes) {
    const char* text = reinterpret_cast<const char*>(bytes.data());
    const size_t end = std::find(bytes.begin(), bytes.end(), uint8_t{0}) - bytes.begin();
    std::vector<double> components;
    size_t pos = 0;
    while (components.size() < kMaxComponents) {
        while (pos < end &&
               (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\n' || text[pos] == '\r')) {
            ++pos;
        }
        if (pos == end) break;
        double value = 0.0;
        auto result = std::from_chars(text + pos, text + end, value);
        if (result.ec != std::errc()) break;
        components.push_back(value);
        pos = result.ptr - text;
    }
    return components;
}

double component(const std::vector<double>& components, size_t index, double fallback) {
    if (index >= components.size()) return fallback;
    double value = components[index];
    return std::isfinite(value) ? value : 0.0;
}

const Value* fieldValue(const ArchiveFields& fields, std::string_view key) {
    for (const auto& [name, field] : fields) {
        if (name == key &&
            (field.kind == ArchiveField::Kind::Inline || field.kind == ArchiveField::Kind::Reference)) {
            return &field.value;
        }
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<Color> Color::withComponents(int64_t colorSpace, const char* key,
                                             std::vector<double> components) {
    auto color = std::make_shared<Color>(Token{});
    color->colorSpace_ = colorSpace;
    for (double& value : components) {
        if (!std::isfinite(value)) value = 0.0;
    }
    const double alpha = components.back();
    components.pop_back();
    Data text = componentText(std::move(components), alpha);
    // The components are those of the text, so that a colour made here equals
    // the same colour read back from its archive.
    color->components_ = parseComponents(text);
    color->fields_.emplace_back("NSColorSpace", ArchiveField::inlineValue(Value(colorSpace)));
    color->fields_.emplace_back(key, ArchiveField::inlineValue(Value(std::move(text))));
    color->computeRGB(Model::FromColorSpace);
    return color;
}

std::shared_ptr<Color> Color::calibrated(double red, double green, double blue, double alpha) {
    return withComponents(CalibratedRGB, "NSRGB", {red, green, blue, alpha});
}

std::shared_ptr<Color> Color::deviceRGB(double red, double green, double blue, double alpha) {
    return withComponents(DeviceRGB, "NSRGB", {red, green, blue, alpha});
}

std::shared_ptr<Color> Color::calibratedWhite(double white, double alpha) {
    return withComponents(CalibratedWhite, "NSWhite", {white, alpha});
}

std::shared_ptr<Color> Color::deviceWhite(double white, double alpha) {
    return withComponents(DeviceWhite, "NSWhite", {white, alpha});
}

std::shared_ptr<Color> Color::deviceCMYK(double cyan, double magenta, double yellow, double black,
                                         double alpha) {
    return withComponents(DeviceCMYK, "NSCMYK", {cyan, magenta, yellow, black, alpha});
}

std::shared_ptr<Color> Color::catalog(std::string catalogName, std::string colorName,
                                      std::shared_ptr<Color> fallback) {
    auto color = std::make_shared<Color>(Token{});
    color->colorSpace_ = Catalog;
    color->fields_.emplace_back("NSColorSpace", ArchiveField::inlineValue(Value(int64_t{Catalog})));
    color->fields_.emplace_back("NSCatalogName", ArchiveField::reference(Value(catalogName)));
    color->fields_.emplace_back("NSColorName", ArchiveField::reference(Value(colorName)));
    if (fallback) color->fields_.emplace_back("NSColor", ArchiveField::reference(Value(fallback)));
    color->catalogName_ = std::move(catalogName);
    color->colorName_ = std::move(colorName);
    color->fallback_ = std::move(fallback);
    color->computeRGB(Model::FromColorSpace);
    return color;
}

std::shared_ptr<Color> Color::fromArchivedData(const Data& data) {
    try {
        return KeyedUnarchiver::unarchivedObjectWithData(data).object<Color>();
    } catch (const std::exception&) {
        // Bad data, or a registered class that failed on it.
        return nullptr;
    }
}

Data Color::archivedData() const {
    return KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<Color>(*this)));
}

std::shared_ptr<Archivable> Color::decode(KeyedUnarchiver& coder) {
    auto color = std::make_shared<Color>(Token{});
    color->fields_ = coder.decodeAllFields();
    color->colorSpace_ = coder.decodeInt("NSColorSpace");

    const char* key = nullptr;
    switch (color->colorSpace_) {
        case CalibratedRGB:
        case DeviceRGB:
            key = "NSRGB";
            break;
        case CalibratedWhite:
        case DeviceWhite:
            key = "NSWhite";
            break;
        case DeviceCMYK:
            key = "NSCMYK";
            break;
        default:
            break;
    }
    if (color->colorSpace_ == Catalog) {
        if (const Value* name = fieldValue(color->fields_, "NSCatalogName")) {
            color->catalogName_ = name->stringValue();
        }
        if (const Value* name = fieldValue(color->fields_, "NSColorName")) {
            color->colorName_ = name->stringValue();
        }
        if (const Value* fallback = fieldValue(color->fields_, "NSColor")) {
            color->fallback_ = fallback->object<Color>();
        }
        color->computeRGB(Model::FromColorSpace);
    } else if (key && coder.containsValueForKey(key)) {
        color->components_ = parseComponents(coder.decodeBytes(key));
        color->computeRGB(Model::FromColorSpace);
    } else if (coder.containsValueForKey("NSComponents")) {
        color->components_ = parseComponents(coder.decodeBytes("NSComponents"));
        color->computeRGB(Model::FromComponentCount);
    } else {
        // A colour of a space this program does not interpret: whatever
        // plain components it carries give its value, else it is black.
        const std::pair<const char*, Model> plain[] = {
            {"NSRGB", Model::RGB}, {"NSWhite", Model::White}, {"NSCMYK", Model::CMYK}};
        for (const auto& [other, model] : plain) {
            if (coder.containsValueForKey(other)) {
                color->components_ = parseComponents(coder.decodeBytes(other));
                color->computeRGB(model);
                break;
            }
        }
    }
    return color;
}

// Device colours are taken as calibrated ones: there is no device profile to
// convert through. CMYK becomes RGB by the plain complement, red =
// (1 - cyan) x (1 - black) and so on. A catalog colour has the value of its
// fallback colour (black without one). Component-based colours are read by
// their number of components: one or two grey (and alpha), three or four RGB
// (and alpha), five CMYK and alpha.
void Color::computeRGB(Model model) {
    if (model == Model::FromColorSpace) {
        switch (colorSpace_) {
            case CalibratedRGB:
            case DeviceRGB:
                model = Model::RGB;
                break;
            case CalibratedWhite:
            case DeviceWhite:
                model = Model::White;
                break;
            case DeviceCMYK:
                model = Model::CMYK;
                break;
            case Catalog:
                rgb_ = fallback_ ? fallback_->rgb_ : RGBA{};
                return;
            default:
                model = Model::FromComponentCount;
                break;
        }
    }
    if (model == Model::FromComponentCount) {
        const size_t n = components_.size();
        model = n == 0 ? Model::None : n <= 2 ? Model::White : n <= 4 ? Model::RGB : Model::CMYK;
    }
    const std::vector<double>& c = components_;
    switch (model) {
        case Model::RGB:
            rgb_ = {component(c, 0, 0.0), component(c, 1, 0.0), component(c, 2, 0.0), component(c, 3, 1.0)};
            break;
        case Model::White: {
            double white = component(c, 0, 0.0);
            rgb_ = {white, white, white, component(c, 1, 1.0)};
            break;
        }
        case Model::CMYK: {
            double black = 1.0 - component(c, 3, 0.0);
            rgb_ = {(1.0 - component(c, 0, 0.0)) * black, (1.0 - component(c, 1, 0.0)) * black,
                    (1.0 - component(c, 2, 0.0)) * black, component(c, 4, 1.0)};
            break;
        }
        default:
            rgb_ = RGBA{};
            break;
    }
}

void Color::encodeWithCoder(KeyedArchiver& coder) const {
    for (const auto& [key, field] : fields_) coder.encodeArchiveField(field, key);
}

double Color::hueComponent() const {
    const double high = std::max({rgb_.red, rgb_.green, rgb_.blue});
    const double low = std::min({rgb_.red, rgb_.green, rgb_.blue});
    const double range = high - low;
    if (range <= 0.0) return 0.0;
    double hue;
    if (high == rgb_.red) {
        hue = (rgb_.green - rgb_.blue) / range;
        if (hue < 0.0) hue += 6.0;
    } else if (high == rgb_.green) {
        hue = 2.0 + (rgb_.blue - rgb_.red) / range;
    } else {
        hue = 4.0 + (rgb_.red - rgb_.green) / range;
    }
    return hue / 6.0;
}

double Color::saturationComponent() const {
    const double high = std::max({rgb_.red, rgb_.green, rgb_.blue});
    const double low = std::min({rgb_.red, rgb_.green, rgb_.blue});
    return high <= 0.0 ? 0.0 : (high - low) / high;
}

double Color::brightnessComponent() const {
    return std::max({rgb_.red, rgb_.green, rgb_.blue});
}

std::shared_ptr<Color> Color::colorUsingCalibratedRGB() const {
    return calibrated(rgb_.red, rgb_.green, rgb_.blue, rgb_.alpha);
}

bool Color::operator==(const Color& other) const {
    return colorSpace_ == other.colorSpace_ && components_ == other.components_ &&
           catalogName_ == other.catalogName_ && colorName_ == other.colorName_ && rgb_ == other.rgb_;
}

}  // namespace tollvane
