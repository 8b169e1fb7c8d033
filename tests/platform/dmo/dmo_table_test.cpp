// The media-object table: registration order per category, names handed out for
// the caller to free, filters, unregistering; and the name conversions it relies on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/core/code_page.h"
#include "platform/dmo/dmo.h"
#include "platform/registry/registry.h"

namespace {

constexpr GUID kOtherCategory{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kMediaTypeVideo{0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

CLSID Clsid(std::uint32_t n) { return CLSID{n, 0xAAAA, 0xBBBB, {9, 9, 9, 9, 9, 9, 9, 9}}; }

struct Entry {
  CLSID clsid;
  std::u16string name;
  friend bool operator==(const Entry&, const Entry&) = default;
};

// Every entry of an enumeration, one Next at a time; the names are freed here.
std::vector<Entry> Enumerate(REFGUID category, DWORD flags = DMO_ENUMF_INCLUDE_KEYED, DWORD inCount = 0,
                             const DMO_PARTIAL_MEDIATYPE* inTypes = nullptr) {
  std::vector<Entry> entries;
  platform::ComPtr<IEnumDMO> e;
  EXPECT_EQ(DMOEnum(category, flags, inCount, inTypes, 0, nullptr, e.Put()), S_OK);
  if (!e) return entries;
  for (;;) {
    CLSID clsid{};
    WCHAR* name = nullptr;
    DWORD fetched = 7;
    const HRESULT hr = e->Next(1, &clsid, &name, &fetched);
    if (hr != S_OK) {
      EXPECT_EQ(hr, S_FALSE);
      EXPECT_EQ(fetched, 0u);
      break;
    }
    EXPECT_EQ(fetched, 1u);
    entries.push_back({clsid, name});
    CoTaskMemFree(name);
  }
  return entries;
}

HRESULT Register(const char16_t* name, const CLSID& clsid, const GUID& category = DMOCATEGORY_AUDIO_EFFECT,
                 DWORD flags = 0) {
  const DMO_PARTIAL_MEDIATYPE pcm{MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
  return DMORegister(name, clsid, category, flags, 1, &pcm, 1, &pcm);
}

class DmoTableTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CLASSES_ROOT, "DirectShow"); }
  void TearDown() override { RegDeleteTreeA(HKEY_CLASSES_ROOT, "DirectShow"); }
};

TEST_F(DmoTableTest, CategoryListsItsObjectsInRegistrationOrderWithTheirNames) {
  EXPECT_TRUE(Enumerate(DMOCATEGORY_AUDIO_EFFECT).empty());
  ASSERT_EQ(Register(u"Zeta", Clsid(3)), S_OK);
  ASSERT_EQ(Register(u"Alpha", Clsid(1)), S_OK);
  ASSERT_EQ(Register(u"Elsewhere", Clsid(9), kOtherCategory), S_OK);
  ASSERT_EQ(Register(u"Écho ♪ 𝄞", Clsid(2)), S_OK);
  // Registering again renames the object but keeps its place.
  ASSERT_EQ(Register(u"Zeta 2", Clsid(3)), S_OK);

  const std::vector<Entry> expected{{Clsid(3), u"Zeta 2"}, {Clsid(1), u"Alpha"}, {Clsid(2), u"Écho ♪ 𝄞"}};
  EXPECT_EQ(Enumerate(DMOCATEGORY_AUDIO_EFFECT), expected);
  EXPECT_EQ(Enumerate(kOtherCategory), (std::vector<Entry>{{Clsid(9), u"Elsewhere"}}));
}

TEST_F(DmoTableTest, NextHandsOutBatchesAndTheEnumeratorSkipsResetsAndClones) {
  for (std::uint32_t n = 1; n <= 3; ++n) ASSERT_EQ(Register(u"Fx", Clsid(n)), S_OK);
  platform::ComPtr<IEnumDMO> e;
  ASSERT_EQ(DMOEnum(DMOCATEGORY_AUDIO_EFFECT, 0, 0, nullptr, 0, nullptr, e.Put()), S_OK);

  CLSID clsids[4]{};
  WCHAR* names[4]{};
  DWORD fetched = 0;
  EXPECT_EQ(e->Skip(1), S_OK);
  // Fewer left than asked: S_FALSE with what there was.
  EXPECT_EQ(e->Next(4, clsids, names, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(clsids[0], Clsid(2));
  EXPECT_EQ(clsids[1], Clsid(3));
  EXPECT_EQ(std::u16string(names[1]), u"Fx");
  CoTaskMemFree(names[0]);
  CoTaskMemFree(names[1]);

  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(2), S_OK);
  platform::ComPtr<IEnumDMO> copy;
  ASSERT_EQ(e->Clone(copy.Put()), S_OK);
  // Names are optional; a clone starts where its original stood.
  EXPECT_EQ(copy->Next(1, clsids, nullptr, nullptr), S_OK);
  EXPECT_EQ(clsids[0], Clsid(3));
  EXPECT_EQ(e->Next(2, clsids, nullptr, nullptr), E_POINTER);  // more than one needs a count
}

TEST_F(DmoTableTest, KeyedObjectsAndTypeFiltersNarrowTheList) {
  ASSERT_EQ(Register(u"Open", Clsid(1)), S_OK);
  ASSERT_EQ(Register(u"Keyed", Clsid(2), DMOCATEGORY_AUDIO_EFFECT, DMO_REGISTERF_IS_KEYED), S_OK);

  EXPECT_EQ(Enumerate(DMOCATEGORY_AUDIO_EFFECT, 0).size(), 1u);
  EXPECT_EQ(Enumerate(DMOCATEGORY_AUDIO_EFFECT, DMO_ENUMF_INCLUDE_KEYED).size(), 2u);

  const DMO_PARTIAL_MEDIATYPE anyAudio{MEDIATYPE_Audio, GUID_NULL};
  const DMO_PARTIAL_MEDIATYPE video{kMediaTypeVideo, GUID_NULL};
  EXPECT_EQ(Enumerate(DMOCATEGORY_AUDIO_EFFECT, DMO_ENUMF_INCLUDE_KEYED, 1, &anyAudio).size(), 2u);
  EXPECT_TRUE(Enumerate(DMOCATEGORY_AUDIO_EFFECT, DMO_ENUMF_INCLUDE_KEYED, 1, &video).empty());
}

TEST_F(DmoTableTest, UnregisteringRemovesTheObjectFromItsCategory) {
  ASSERT_EQ(Register(u"A", Clsid(1)), S_OK);
  ASSERT_EQ(Register(u"B", Clsid(2)), S_OK);
  EXPECT_EQ(DMOUnregister(Clsid(1), DMOCATEGORY_AUDIO_EFFECT), S_OK);
  EXPECT_EQ(Enumerate(DMOCATEGORY_AUDIO_EFFECT), (std::vector<Entry>{{Clsid(2), u"B"}}));
  EXPECT_EQ(DMOUnregister(Clsid(1), DMOCATEGORY_AUDIO_EFFECT), S_FALSE);
  // GUID_NULL: from every category.
  ASSERT_EQ(Register(u"B", Clsid(2), kOtherCategory), S_OK);
  EXPECT_EQ(DMOUnregister(Clsid(2), GUID_NULL), S_OK);
  EXPECT_TRUE(Enumerate(DMOCATEGORY_AUDIO_EFFECT).empty());
  EXPECT_TRUE(Enumerate(kOtherCategory).empty());
}

TEST_F(DmoTableTest, BadArgumentsAreRefused) {
  IEnumDMO* e = nullptr;
  EXPECT_EQ(DMOEnum(DMOCATEGORY_AUDIO_EFFECT, 0, 1, nullptr, 0, nullptr, &e), E_POINTER);
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(DMOEnum(DMOCATEGORY_AUDIO_EFFECT, 0, 0, nullptr, 0, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(DMORegister(nullptr, Clsid(1), DMOCATEGORY_AUDIO_EFFECT, 0, 0, nullptr, 0, nullptr), E_POINTER);
}

TEST(CodePageTest, ConvertsBothWaysAndRefusesBuffersThatAreTooSmall) {
  const char16_t* wide = u"Ab é 𝄞";
  const int needed = WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, wide, -1, nullptr, 0, nullptr, nullptr);
  ASSERT_EQ(needed, 1 + 1 + 1 + 2 + 1 + 4 + 1);  // with the NUL
  std::string text(static_cast<std::size_t>(needed), 'x');
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), needed, nullptr, nullptr), needed);
  EXPECT_EQ(text, std::string("Ab \xC3\xA9 \xF0\x9D\x84\x9E", needed));
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, small, 4, nullptr, nullptr), 0);

  WCHAR back[16]{};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, back, 16), 8);
  EXPECT_EQ(std::u16string(back), std::u16string(wide));
  // An unpaired surrogate and bytes that are not UTF-8 become U+FFFD.
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  char out[16]{};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, lone, -1, out, 16, nullptr, nullptr), 6);
  EXPECT_EQ(std::string(out),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xFFz", -1, back, 16), 3);
  EXPECT_EQ(back[0], 0xFFFD);
}

}  // namespace
