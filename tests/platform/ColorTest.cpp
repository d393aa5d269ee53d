#include "platform/archive/Color.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/archive/ArchiveError.h"
#include "platform/archive/GenericArchiveObject.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"

namespace tollvane {
namespace {

Data readArchive(const std::string& name) {
    std::ifstream in(std::string(TOLLVANE_TEST_DATA) + "/archives/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string componentText(const Color& color, const char* key) {
    for (const auto& [name, field] : color.archivedFields()) {
        if (name == key) return std::string(field.value.dataValue().begin(), field.value.dataValue().end());
    }
    return "<absent>";
}

void expectRGBA(const Color& color, Color::RGBA expected) {
    EXPECT_NEAR(color.redComponent(), expected.red, 1e-9);
    EXPECT_NEAR(color.greenComponent(), expected.green, 1e-9);
    EXPECT_NEAR(color.blueComponent(), expected.blue, 1e-9);
    EXPECT_NEAR(color.alphaComponent(), expected.alpha, 1e-9);
}

TEST(Color, EachColorSpaceReadsToItsCalibratedValue) {
    Value root = KeyedUnarchiver::unarchivedObjectWithData(readArchive("colors.archive"));
    const auto& items = root.arrayValue()->items;
    ASSERT_EQ(items.size(), 9u);
    struct Row {
        int64_t space;
        Color::RGBA rgba;
    };
    const Row rows[] = {
        {Color::CalibratedRGB, {1, 0.5, 0.25, 1}},      {Color::CalibratedRGB, {0, 0, 1, 0.5}},
        {Color::DeviceRGB, {0.2, 0.4, 0.6, 1}},         {Color::CalibratedWhite, {0.5, 0.5, 0.5, 1}},
        {Color::DeviceWhite, {0.25, 0.25, 0.25, 0.75}}, {Color::DeviceCMYK, {0.5, 0, 0, 1}},
        {Color::Catalog, {0.9, 0.9, 0.9, 1}},           {Color::ComponentBased, {1, 0.5, 0, 1}},
        {Color::DeviceRGB, {0.1, 0.2, 0.3, 1}},
    };
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        auto color = items[i].object<Color>();
        ASSERT_TRUE(color);
        EXPECT_EQ(color->colorSpace(), rows[i].space);
        expectRGBA(*color, rows[i].rgba);
    }

    auto catalog = items[6].object<Color>();
    EXPECT_EQ(catalog->catalogName(), "System");
    EXPECT_EQ(catalog->colorName(), "controlColor");
    ASSERT_TRUE(catalog->fallbackColor());
    EXPECT_EQ(catalog->fallbackColor()->colorSpace(), Color::CalibratedWhite);

    // The component-based colours keep their shared colour-space object.
    auto custom = items[7].object<Color>();
    auto srgb = items[8].object<Color>();
    ASSERT_EQ(custom->archivedFields().size(), 3u);
    const Value& space = custom->archivedFields()[2].second.value;
    auto spaceObject = space.object<GenericArchiveObject>();
    ASSERT_TRUE(spaceObject);
    EXPECT_EQ(spaceObject->className(), "NSColorSpace");
    EXPECT_EQ(srgb->archivedFields()[3].second.value.objectValue(), space.objectValue());
    EXPECT_EQ(srgb->components(), (std::vector<double>{0.1, 0.2, 0.3}));
}

TEST(Color, MadeColorsWriteThePlatformText) {
    struct Row {
        std::shared_ptr<Color> color;
        const char* key;
        std::string text;
    };
    const Row rows[] = {
        {Color::calibrated(1, 0.5, 0.25), "NSRGB", std::string("1 0.5 0.25\0", 11)},
        {Color::calibrated(0, 0, 1, 0.5), "NSRGB", std::string("0 0 1 0.5\0", 10)},
        {Color::calibrated(240 / 255.0, 1, 0), "NSRGB", std::string("0.9411764706 1 0\0", 17)},
        {Color::deviceRGB(0.2, 0.4, 0.6), "NSRGB", std::string("0.2 0.4 0.6\0", 12)},
        {Color::calibratedWhite(0.5), "NSWhite", std::string("0.5\0", 4)},
        {Color::deviceWhite(0.25, 0.75), "NSWhite", std::string("0.25 0.75\0", 10)},
        {Color::deviceCMYK(0, 1, 1, 0.5), "NSCMYK", std::string("0 1 1 0.5\0", 10)},
        {Color::calibrated(NAN, 1, 1), "NSRGB", std::string("0 1 1\0", 6)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(componentText(*row.color, row.key), row.text);
        // What is made equals what its archive reads back as.
        auto back = Color::fromArchivedData(row.color->archivedData());
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, *row.color);
        EXPECT_EQ(back->archivedFields(), row.color->archivedFields());
    }
}

TEST(Color, ArchivedDataIsAKeyedArchiveWithTheColorAtItsRoot) {
    auto color = Color::calibrated(0.1, 0.2, 0.3);
    Value root = KeyedUnarchiver::unarchivedObjectWithData(color->archivedData());
    auto back = root.object<Color>();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->colorSpace(), Color::CalibratedRGB);
    expectRGBA(*back, {0.1, 0.2, 0.3, 1});
}

TEST(Color, FromArchivedDataAnswersNullForAnythingElse) {
    EXPECT_FALSE(Color::fromArchivedData({}));
    EXPECT_FALSE(Color::fromArchivedData({'n', 'o', 'p', 'e'}));
    EXPECT_FALSE(Color::fromArchivedData(KeyedArchiver::archivedDataWithRootObject(Value("red"))));
    EXPECT_FALSE(Color::fromArchivedData(readArchive("colors.archive")));
}

TEST(Color, CatalogColorTakesItsFallbacksValue) {
    auto fallback = Color::deviceCMYK(1, 0, 0, 0);
    auto color = Color::catalog("System", "selectedControlColor", fallback);
    expectRGBA(*color, {0, 1, 1, 1});
    auto back = Color::fromArchivedData(color->archivedData());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, *color);
    EXPECT_EQ(back->colorName(), "selectedControlColor");
    expectRGBA(*Color::catalog("System", "gone", nullptr), {0, 0, 0, 1});
}

TEST(Color, ConversionToCalibratedRGB) {
    auto converted = Color::deviceCMYK(0, 0.5, 1, 0.2, 0.4)->colorUsingCalibratedRGB();
    EXPECT_EQ(converted->colorSpace(), Color::CalibratedRGB);
    expectRGBA(*converted, {0.8, 0.4, 0, 0.4});
    EXPECT_EQ(componentText(*converted, "NSRGB"), std::string("0.8 0.4 0 0.4\0", 14));
}

TEST(Color, HueSaturationBrightness) {
    struct Row {
        std::shared_ptr<Color> color;
        double hue, saturation, brightness;
    };
    const Row rows[] = {
        {Color::calibrated(1, 0, 0), 0, 1, 1},         {Color::calibrated(0, 1, 0), 1 / 3.0, 1, 1},
        {Color::calibrated(0, 0, 1), 2 / 3.0, 1, 1},   {Color::calibrated(1, 0, 1), 5 / 6.0, 1, 1},
        {Color::calibrated(0.5, 0.5, 0.5), 0, 0, 0.5}, {Color::calibrated(0, 0, 0), 0, 0, 0},
        {Color::calibrated(1, 0.5, 0.5), 0, 0.5, 1},
    };
    for (const Row& row : rows) {
        EXPECT_NEAR(row.color->hueComponent(), row.hue, 1e-9);
        EXPECT_NEAR(row.color->saturationComponent(), row.saturation, 1e-9);
        EXPECT_NEAR(row.color->brightnessComponent(), row.brightness, 1e-9);
    }
}

// A colour record written by hand: one colour space, one component key.
class RawColor : public Archivable {
public:
    int64_t space = 0;
    std::string key;
    std::string text;
    std::string archiveClassName() const override { return "NSColor"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeInt(space, "NSColorSpace");
        coder.encodeBytes(Data(text.begin(), text.end()), key);
    }
};

TEST(Color, ComponentsAreReadAsFarAsTheyGo) {
    struct Row {
        int64_t space;
        const char* key;
        std::string text;
        Color::RGBA rgba;
    };
    const Row rows[] = {
        // Garbage after two numbers, no NUL, nothing, non-finite numbers, too many.
        {1, "NSRGB", "0.5 0.25 junk", {0.5, 0.25, 0, 1}},
        {1, "NSRGB", "1 1", {1, 1, 0, 1}},
        {1, "NSRGB", "", {0, 0, 0, 1}},
        {1, "NSRGB", "nan inf 0.5", {0, 0, 0.5, 1}},
        {1, "NSRGB", "0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1 1 1 1 1 1 1 1 1 1 1", {0.1, 0.2, 0.3, 0.4}},
        // Component-based colours by their number of components.
        {10, "NSComponents", std::string("0.5\0", 4), {0.5, 0.5, 0.5, 1}},
        {10, "NSComponents", "0.5 0.2", {0.5, 0.5, 0.5, 0.2}},
        {10, "NSComponents", "0.1 0.2 0.3", {0.1, 0.2, 0.3, 1}},
        {10, "NSComponents", "0 0 0 1 0.5", {0, 0, 0, 0.5}},
        // A space not interpreted here, with plain components.
        {7, "NSCMYK", "1 0 0 0", {0, 1, 1, 1}},
        {7, "NSWhite", "0.25", {0.25, 0.25, 0.25, 1}},
        {7, "NSPattern", "1 1 1", {0, 0, 0, 1}},
    };
    for (const Row& row : rows) {
        auto raw = std::make_shared<RawColor>();
        raw->space = row.space;
        raw->key = row.key;
        raw->text = row.text;
        auto color = Color::fromArchivedData(KeyedArchiver::archivedDataWithRootObject(Value(raw)));
        ASSERT_TRUE(color) << row.text;
        SCOPED_TRACE(row.text);
        expectRGBA(*color, row.rgba);
        EXPECT_EQ(color->colorSpace(), row.space);
        // Written back as read.
        auto again = Color::fromArchivedData(color->archivedData());
        ASSERT_TRUE(again);
        EXPECT_EQ(again->archivedFields(), color->archivedFields());
    }
}

}  // namespace
}  // namespace tollvane
