// Branding a stub: icon files refused for what Windows cannot show, the publisher's texts and
// version numbers, the manifest's execution level, and the rebuilt resource section of PE32 and
// PE32+ images with their sizes and checksum. The real stubs, read back with an independent PE
// reader, are the tool tests' part; the checksum over a whole self-extractor is the writer's.
#include "pe/stub_branding.h"

#include <gtest/gtest.h>

#include "byte_reading.h"
#include "pe/icon_file.h"
#include "pe/manifest_edit.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"
#include "pe/version_info.h"
#include "test_pe.h"

namespace {

using namespace packtest;
using vorntest::BuildTestIcon;
using vorntest::BuildTestStub;
using vorntest::DwordChecksum;
using Bytes = std::vector<uint8_t>;

Bytes Set(Bytes bytes, size_t at, std::initializer_list<uint8_t> put) {
    std::copy(put.begin(), put.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

std::vector<pe::Resource> ResourcesOf(const Bytes& image) {
    pe::PeLayout layout;
    std::string error;
    EXPECT_TRUE(pe::ReadPeLayout(image.data(), image.size(), &layout, &error)) << error;
    const pe::PeSection& s = layout.sections.back();
    std::vector<pe::Resource> resources;
    EXPECT_TRUE(pe::ReadResources(image.data() + s.rawOffset, s.virtualSize, s.virtualAddress,
                                  &resources, &error))
        << error;
    return resources;
}

const pe::Resource* Find(const std::vector<pe::Resource>& resources, uint16_t type, uint16_t name) {
    for (const pe::Resource& r : resources) {
        if (r.type == pe::ResourceKey::Id(type) && r.name == pe::ResourceKey::Id(name)) {
            return &r;
        }
    }
    return nullptr;
}

// ---- Icon files

TEST(IconFile, EveryImageIsTakenWithItsDirectoryEntry) {
    const Bytes file = BuildTestIcon({{16, 4}, {32, 8}, {48, 24}, {64, 32}, {256, 32, true}});
    std::vector<pe::IconImage> images;
    std::string error;
    ASSERT_TRUE(pe::ReadIconFile(file, &images, &error)) << error;
    ASSERT_EQ(images.size(), 5u);
    for (size_t i = 0; i < images.size(); ++i) {
        const size_t e = 6 + 16 * i;
        EXPECT_EQ(images[i].width, file[e]);
        EXPECT_EQ(images[i].bitCount, GetU16(file, e + 6));
        EXPECT_EQ(images[i].data, Slice(file, GetU32(file, e + 12), GetU32(file, e + 8)));
    }
    EXPECT_EQ(images[4].width, 0);  // 256 pixels
}

TEST(IconFile, FilesWindowsCannotShowAreRefusedSayingWhy) {
    const Bytes good = BuildTestIcon({{32, 4}});
    const size_t bmp = 6 + 16;  // the one image's bitmap header
    Bytes twoBits = Set(good, bmp + 14, {2, 0});
    Bytes wideBmp = Set(good, bmp + 4, {0x01, 0x01});  // 257 pixels
    Bytes bigPng = BuildTestIcon({{256, 32, true}});
    bigPng = Set(bigPng, 6 + 16 + 16, {0, 0, 1, 0x2C});  // 300 pixels wide
    Bytes pngDepth = Set(BuildTestIcon({{48, 32, true}}), 6 + 16 + 24, {3});
    const Bytes twoImages = BuildTestIcon({{32, 4}, {32, 4}});
    const Bytes sharedBytes = Set(twoImages, 6 + 16 + 12, {6 + 32, 0, 0, 0});  // image 2 at image 1
    Bytes manyImages(6 + 16 * 65, 0);
    manyImages[2] = 1;
    manyImages[4] = 65;
    const struct {
        Bytes file;
        const char* why;
    } cases[] = {
        {Bytes{'B', 'M', 0, 0, 0, 0, 0, 0}, "not an icon file"},
        {Set(good, 2, {2}), "a cursor file"},
        {Set(good, 4, {0}), "no images"},
        {Slice(good, 0, 12), "cut short in its directory"},
        {Slice(good, 0, good.size() - 1), "runs past the end"},
        {Bytes(pe::kMaxIconFileBytes + 1, 0), "at most 4194304 (4 MiB)"},
        {manyImages, "at most 64"},
        {twoBits, "depth Windows cannot show as an icon (2 bits)"},
        {Set(good, bmp + 16, {1}), "depth Windows cannot show"},  // compressed
        {wideBmp, "size icons cannot have"},
        {Set(good, 6, {16, 16}), "not the size its directory entry gives"},
        {Set(good, bmp + 32, {17}), "palette larger than its depth allows"},
        {Set(good, bmp, {12}), "neither a bitmap nor a PNG stream"},
        {bigPng, "300x256"},
        {pngDepth, "PNG stream of a kind Windows cannot show"},
        {sharedBytes, "image 2 of the icon file overlaps image 1"},
    };
    for (const auto& c : cases) {
        std::vector<pe::IconImage> images;
        std::string error;
        EXPECT_FALSE(pe::ReadIconFile(c.file, &images, &error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.why << ": " << error;
        EXPECT_TRUE(images.empty());
    }
}

// ---- Texts and numbers

TEST(BrandingTexts, VersionNumbersAreOneToFourPartsUpTo65535) {
    const struct {
        const char* text;
        std::array<uint16_t, 4> numbers;
        bool ok;
    } cases[] = {
        {"1", {1, 0, 0, 0}, true},
        {"1.2.3", {1, 2, 3, 0}, true},
        {"65535.0.7.65535", {65535, 0, 7, 65535}, true},
        {"00012.3", {12, 3, 0, 0}, true},
        {"", {}, false},
        {"1.2.3.4.5", {}, false},
        {"65536", {}, false},
        {"1..2", {}, false},
        {"1.2.", {}, false},
        {".1", {}, false},
        {"1.2b", {}, false},
        {"-1", {}, false},
        {"999999999999", {}, false},
    };
    for (const auto& c : cases) {
        std::array<uint16_t, 4> numbers{9, 9, 9, 9};
        std::string error;
        EXPECT_EQ(pe::ParseVersionNumbers(c.text, &numbers, &error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(numbers, c.numbers) << c.text;
        } else {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
}

TEST(BrandingTexts, EmptyLongControlAndBrokenTextsAreRefused) {
    EXPECT_EQ(pe::BrandingTextProblem("Sample Ünïcode Setup"), "");
    EXPECT_EQ(pe::BrandingTextProblem(std::string(255, 'a')), "");
    EXPECT_NE(pe::BrandingTextProblem(""), "");
    EXPECT_NE(pe::BrandingTextProblem(std::string(256, 'a')).find("at most 255"),
              std::string::npos);
    EXPECT_NE(pe::BrandingTextProblem("a\tb").find("control"), std::string::npos);
    EXPECT_NE(pe::BrandingTextProblem("a\x7f").find("control"), std::string::npos);
    EXPECT_NE(pe::BrandingTextProblem("a\xc3").find("UTF-8"), std::string::npos);
}

// ---- Manifest

TEST(Manifest, LevelIsChangedInPlaceAndCommentsDoNotCount) {
    std::string m = vorntest::TestStubOptions().manifest;
    EXPECT_EQ(pe::ManifestExecutionLevel(m), std::optional<std::string>("asInvoker"));
    std::string error;
    ASSERT_TRUE(pe::SetManifestExecutionLevel(m, "requireAdministrator", &error)) << error;
    EXPECT_EQ(pe::ManifestExecutionLevel(m), std::optional<std::string>("requireAdministrator"));
    EXPECT_NE(m.find("level=\"x\""), std::string::npos);  // the comment is as it was
    EXPECT_NE(m.find("uiAccess=\"false\""), std::string::npos);

    std::string spaced = "<requestedExecutionLevel uiAccess='false'\n level = 'asInvoker'/>";
    ASSERT_TRUE(pe::SetManifestExecutionLevel(spaced, "requireAdministrator", &error));
    EXPECT_EQ(spaced,
              "<requestedExecutionLevel uiAccess='false'\n level = 'requireAdministrator'/>");

    for (std::string bad : {std::string("<assembly/>"), std::string("<requestedExecutionLevel/>"),
                            std::string("<requestedExecutionLevel level=\"a\"/>"
                                        "<requestedExecutionLevel level=\"b\"/>")}) {
        const std::string before = bad;
        EXPECT_FALSE(pe::SetManifestExecutionLevel(bad, "requireAdministrator", &error)) << bad;
        EXPECT_EQ(bad, before);
    }
}

TEST(Manifest, ManifestsOfSeveralMiBAreReadAndEditedAsSmallOnesAre) {
    const auto repeat = [](const std::string& piece) {
        std::string text;
        while (text.size() < (4u << 20)) text += piece;
        return text;
    };
    const std::string real = "<requestedExecutionLevel level=\"asInvoker\"/>";
    const std::string raised = "<requestedExecutionLevel level=\"requireAdministrator\"/>";
    const std::string hidden = "<requestedExecutionLevel level=\"x\"> ";
    const struct {
        std::string before, after;
        bool editable;  // false: a second element outside comments
    } cases[] = {
        {"<!-- " + repeat(hidden) + "-->", "", true},
        {repeat("<!-- " + hidden + "-->"), repeat("<!---->"), true},
        {repeat("<!---->"), "<!-- " + repeat(hidden), true},
        {"", repeat("<!-- -->") + real, false},
        {repeat("level=\"y\" "), repeat(hidden), false},
    };
    for (const auto& c : cases) {
        std::string m = c.before + real + c.after;
        EXPECT_EQ(pe::ManifestExecutionLevel(m), std::optional<std::string>("asInvoker"));
        std::string error;
        EXPECT_EQ(pe::SetManifestExecutionLevel(m, "requireAdministrator", &error), c.editable);
        EXPECT_TRUE(m == (c.editable ? c.before + raised + c.after : c.before + real + c.after))
            << error;
    }
}

// ---- Resource sections and version information

TEST(ResourceSection, ReadBackAsBuiltInTheLoadersOrder) {
    const Bytes image = BuildTestStub();
    std::vector<pe::Resource> resources = ResourcesOf(image);
    ASSERT_EQ(resources.size(), 7u);
    // Named entries before numbered ones, numbers ascending, at every level.
    EXPECT_EQ(resources[0].type, pe::ResourceKey::Id(3));
    EXPECT_EQ(resources[2].name.text, u"NAMED");
    EXPECT_EQ(resources[3].name, pe::ResourceKey::Id(129));
    // Building the same resources in another order gives the same bytes.
    std::vector<pe::Resource> reversed(resources.rbegin(), resources.rend());
    EXPECT_EQ(pe::BuildResourceSection(reversed, 0x4000),
              pe::BuildResourceSection(resources, 0x4000));
}

TEST(VersionInfo, WrittenBlocksReadBackAndKeepWhatIsNotChanged) {
    const auto resources = ResourcesOf(BuildTestStub());
    const pe::Resource* v = Find(resources, pe::kResourceVersion, 1);
    ASSERT_NE(v, nullptr);
    pe::VersionBlock root;
    std::string error;
    ASSERT_TRUE(pe::ReadVersionInfo(v->data, &root, &error)) << error;
    EXPECT_EQ(pe::WriteVersionInfo(root), v->data);
    ASSERT_TRUE(pe::SetVersionString(root, "CompanyName", "Sample Co"));
    ASSERT_TRUE(pe::SetVersionString(root, "ProductName", "Sample"));
    pe::VersionBlock again;
    ASSERT_TRUE(pe::ReadVersionInfo(pe::WriteVersionInfo(root), &again, &error));
    EXPECT_EQ(pe::VersionString(again, "CompanyName"), std::optional<std::string>("Sample Co"));
    EXPECT_EQ(pe::VersionString(again, "ProductName"), std::optional<std::string>("Sample"));
    EXPECT_EQ(pe::VersionString(again, "FileDescription"),
              std::optional<std::string>("Stub description"));
    for (size_t cut : {size_t{0}, size_t{5}, v->data.size() / 2}) {
        Bytes damaged = Slice(v->data, 0, cut);
        if (cut > 2) damaged = Set(v->data, 0, {0xff, 0xff});  // longer than the resource
        EXPECT_FALSE(pe::ReadVersionInfo(damaged, &again, &error)) << cut;
    }
}

// ---- Branding whole images

class BrandedImage : public ::testing::TestWithParam<bool> {};

TEST_P(BrandedImage, ResourcesSizesAndChecksumAreRebuilt) {
    vorntest::TestStubOptions options;
    options.pe32Plus = GetParam();
    const Bytes stub = BuildTestStub(options);
    pe::StubBranding branding;
    branding.iconFile = BuildTestIcon({{16, 8}, {32, 32}, {256, 32, true}});
    branding.productName = "Sample";
    branding.productVersion = "1.2.3.4";
    branding.company = "Sample Co";
    branding.description = "Sample setup";
    branding.copyright = "© 2026 Sample Co";
    branding.elevate = true;
    branding.originalFilename = "Sample-1.2.3-setup.exe";
    Bytes image = stub;
    std::string error;
    ASSERT_TRUE(pe::BrandStub(image, branding, &error)) << error;

    pe::PeLayout layout;
    ASSERT_TRUE(pe::ReadPeLayout(image.data(), image.size(), &layout, &error)) << error;
    const pe::PeSection& rsrc = layout.sections.back();
    EXPECT_GT(rsrc.virtualSize, 4000u);  // the 256-pixel image is in
    EXPECT_EQ(rsrc.rawSize % layout.fileAlignment, 0u);
    EXPECT_EQ(image.size(), rsrc.rawOffset + size_t{rsrc.rawSize});
    const size_t opt = layout.optionalHeader;
    EXPECT_EQ(GetU32(image, opt + 56), (rsrc.virtualAddress + rsrc.virtualSize + 0xfff) & ~0xfffu);
    EXPECT_EQ(GetU32(image, layout.dataDirectories + 16), rsrc.virtualAddress);
    EXPECT_EQ(GetU32(image, layout.dataDirectories + 20), rsrc.virtualSize);
    EXPECT_EQ(GetU32(image, layout.checksumField), DwordChecksum(image, layout.checksumField));
    // Everything in front of the resource section is as it was, but for the header fields.
    for (size_t i = 0x400; i < rsrc.rawOffset; ++i) ASSERT_EQ(image[i], stub[i]) << i;

    const auto resources = ResourcesOf(image);
    const pe::Resource* group = Find(resources, pe::kResourceGroupIcon, 107);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(GetU16(group->data, 4), 3u);
    std::vector<pe::IconImage> images;
    ASSERT_TRUE(pe::ReadIconFile(*branding.iconFile, &images, &error));
    for (size_t i = 0; i < 3; ++i) {
        const uint16_t id = GetU16(group->data, 6 + 14 * i + 12);
        const pe::Resource* icon = Find(resources, pe::kResourceIcon, id);
        ASSERT_NE(icon, nullptr) << id;
        EXPECT_EQ(icon->data, images[i].data);
        EXPECT_EQ(Slice(group->data, 6 + 14 * i, 8), Slice(*branding.iconFile, 6 + 16 * i, 8));
    }
    EXPECT_EQ(Find(resources, pe::kResourceIcon, 4), nullptr);  // the old ones are gone

    const auto facts = pe::ReadStubBranding(image);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->productName, std::optional<std::string>("Sample"));
    EXPECT_EQ(facts->productVersion, std::optional<std::string>("1.2.3.4"));
    EXPECT_EQ(facts->executionLevel, std::optional<std::string>("requireAdministrator"));

    // The same inputs give the same bytes; a second branding of the result changes nothing more.
    Bytes again = stub;
    ASSERT_TRUE(pe::BrandStub(again, branding, &error));
    EXPECT_EQ(again, image);
    Bytes twice = image;
    ASSERT_TRUE(pe::BrandStub(twice, branding, &error)) << error;
    EXPECT_EQ(twice, image);
}

TEST_P(BrandedImage, WhatIsNotGivenKeepsTheStubsValue) {
    vorntest::TestStubOptions options;
    options.pe32Plus = GetParam();
    Bytes image = BuildTestStub(options);
    pe::StubBranding branding;
    branding.company = "Only Co";
    std::string error;
    ASSERT_TRUE(pe::BrandStub(image, branding, &error)) << error;
    const auto facts = pe::ReadStubBranding(image);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->productName, std::optional<std::string>("Stub product"));
    EXPECT_EQ(facts->productVersion, std::optional<std::string>("0.1.0"));
    EXPECT_EQ(facts->executionLevel, std::optional<std::string>("asInvoker"));
    const auto before = ResourcesOf(BuildTestStub(options));
    const auto after = ResourcesOf(image);
    EXPECT_EQ(Find(after, pe::kResourceGroupIcon, 107)->data,
              Find(before, pe::kResourceGroupIcon, 107)->data);
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, BrandedImage, ::testing::Bool());

TEST(BrandStub, StubsThatCannotBeRebuiltAreRefusedAndLeftAsTheyWere) {
    auto with = [](auto change) {
        vorntest::TestStubOptions options;
        change(options);
        return BuildTestStub(options);
    };
    Bytes signedStub = BuildTestStub();
    {
        pe::PeLayout layout;
        ASSERT_TRUE(pe::ReadPeLayout(signedStub.data(), signedStub.size(), &layout, nullptr));
        signedStub = Set(signedStub, layout.dataDirectories + 8 * 4 + 4, {0x10});
    }
    // A file alignment of 32 MiB, and a table past the resources (the exception table's address).
    const Bytes stub = BuildTestStub();
    pe::PeLayout layout;
    ASSERT_TRUE(pe::ReadPeLayout(stub.data(), stub.size(), &layout, nullptr));
    const Bytes hugeAlignment = Set(stub, layout.optionalHeader + 36, {0, 0, 0, 2});
    const Bytes tableBeyond = Set(stub, layout.dataDirectories + 8 * 3, {0, 0, 0, 2});
    pe::StubBranding branding;
    branding.elevate = true;
    pe::StubBranding badIcon;
    badIcon.iconFile = Bytes{0, 0, 1, 0, 0, 0};
    const struct {
        Bytes image;
        pe::StubBranding branding;
        const char* why;
    } cases[] = {
        {Bytes(100, 'M'), branding, "not a Windows program"},
        {with([](auto& o) { o.withResources = false; }), branding, "no resource section"},
        {with([](auto& o) { o.resourcesLast = false; }), branding, "not its last section"},
        {with([](auto& o) { o.trailing = Bytes(16, 1); }), branding, "data after its last section"},
        {signedStub, branding, "signed"},
        {hugeAlignment, branding, "file alignment is not one Windows loads"},
        {tableBeyond, branding, "holds more than its resources"},
        {with([](auto& o) { o.manifest = "<assembly/>"; }), branding, "no execution level"},
        {BuildTestStub(), badIcon, "no images"},
    };
    for (const auto& c : cases) {
        Bytes image = c.image;
        std::string error;
        EXPECT_FALSE(pe::BrandStub(image, c.branding, &error)) << c.why;
        EXPECT_NE(error.find(c.why), std::string::npos) << c.why << ": " << error;
        EXPECT_EQ(image, c.image) << c.why;
    }
}

TEST(PeChecksum, StreamedInPiecesEqualsWhole) {
    vorntest::TestStubOptions options;
    options.pe32Plus = true;
    const Bytes image = BuildTestStub(options);
    const size_t field = *pe::FindPeChecksumField(image.data(), image.size());
    Bytes zeroed = Set(image, field, {0, 0, 0, 0});
    zeroed.push_back(0x5a);  // an odd length
    for (size_t piece : {size_t{1}, size_t{3}, size_t{4096}}) {
        pe::PeChecksum checksum;
        for (size_t at = 0; at < zeroed.size(); at += piece) {
            checksum.Update(zeroed.data() + at, std::min(piece, zeroed.size() - at));
        }
        EXPECT_EQ(checksum.Finish(), DwordChecksum(zeroed, field)) << piece;
    }
    EXPECT_EQ(pe::FindPeChecksumField(zeroed.data(), 200), std::nullopt);
}

}  // namespace
