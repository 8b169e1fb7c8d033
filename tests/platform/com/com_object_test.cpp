#include "platform/com/com_object.h"

#include <gtest/gtest.h>

namespace {

// {6A1F0C01-0000-4000-8000-000000000001} and on: ids for the interfaces below.
inline constexpr IID IID_IFirst{0x6A1F0C01, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};
inline constexpr IID IID_IFirstOld{0x6A1F0C01, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 2}};
inline constexpr IID IID_ISecond{0x6A1F0C01, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 3}};
inline constexpr IID IID_INobody{0x6A1F0C01, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 4}};

struct IFirst : IUnknown {
  virtual int First() = 0;
};
struct ISecond : IUnknown {
  virtual int Second() = 0;
};

class CBoth final : public platform::ComObjectOf<platform::Offers<IFirst, IID_IFirst, IID_IFirstOld>,
                                                 platform::Offers<ISecond, IID_ISecond>> {
 public:
  explicit CBoth(int& destroyed) : destroyed_(destroyed) {}
  int First() override { return 1; }
  int Second() override { return 2; }

 private:
  ~CBoth() override { ++destroyed_; }
  int& destroyed_;
};

TEST(ComObjectTest, HandsOutEachInterfaceByItsIdsAndRefusesOthers) {
  int destroyed = 0;
  auto* object = new CBoth(destroyed);
  platform::ComPtr<IFirst> first;
  ASSERT_EQ(object->QueryInterface(IID_IFirstOld, first.PutVoid()), S_OK);
  EXPECT_EQ(first->First(), 1);
  platform::ComPtr<ISecond> second;
  ASSERT_EQ(first->QueryInterface(IID_ISecond, second.PutVoid()), S_OK);
  EXPECT_EQ(second->Second(), 2);  // the second base's own address, not the first's

  // IID_IUnknown is the first interface, whichever interface is asked.
  platform::ComPtr<IUnknown> identity;
  ASSERT_EQ(second->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(first.Get()));

  void* none = &none;
  EXPECT_EQ(object->QueryInterface(IID_INobody, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_IFirst, nullptr), E_POINTER);

  // Creation reference + first + second + identity.
  EXPECT_EQ(object->AddRef(), 5u);
  EXPECT_EQ(object->Release(), 4u);
  EXPECT_EQ(object->Release(), 3u);
  first.Reset();
  identity.Reset();
  EXPECT_EQ(destroyed, 0);
  second.Reset();  // the last reference, released through the second interface
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
