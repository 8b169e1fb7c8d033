// IUnknown for the component objects of our own: a thread-safe reference count
// that starts at one (owned by whoever created the object), QueryInterface over a
// fixed list of interfaces, and Release destroying the object when the count
// reaches zero. Such objects live on the heap and go only through Release.
//
//   class CLoader final : public platform::ComObject<IDirectMusicLoader8, IID_IDirectMusicLoader8> {...};
//
// A class with several interface bases lists each with the ids it answers for:
//
//   class CFilter final : public platform::ComObjectOf<platform::Offers<IMediaObject, IID_IMediaObject>,
//                                                      platform::Offers<IRecordingSink, IID_IRecordingSink>> {...};
#pragma once

#include "platform/com/unknown.h"

namespace platform {

// One interface an object offers and the ids QueryInterface hands it out for.
template <typename I, const IID&... Iids>
struct Offers : I {
  using Interface = I;
  static bool Answers(REFIID riid) { return ((riid == Iids) || ...); }

 protected:
  ~Offers() = default;
};

// The first offered interface also answers IID_IUnknown.
template <typename First, typename... Rest>
class ComObjectOf : public First, public Rest... {
 public:
  ComObjectOf(const ComObjectOf&) = delete;
  ComObjectOf& operator=(const ComObjectOf&) = delete;

  // E_POINTER for a null ppv; E_NOINTERFACE (and a null *ppv) for an id not offered.
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    const bool offered =
        riid == IID_IUnknown ? Hand<First>(ppv) : (Offer<First>(riid, ppv) || ... || Offer<Rest>(riid, ppv));
    if (!offered) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    const ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObjectOf() = default;
  // Virtual so that Release destroys the whole object.
  virtual ~ComObjectOf() = default;

 private:
  template <typename Entry>
  bool Hand(void** ppv) {
    *ppv = static_cast<typename Entry::Interface*>(static_cast<Entry*>(this));
    return true;
  }
  template <typename Entry>
  bool Offer(REFIID riid, void** ppv) {
    return Entry::Answers(riid) && Hand<Entry>(ppv);
  }

  RefCount refs_;
};

// An object with one interface (and the interfaces it extends), answering for iids.
template <typename Interface, const IID&... Iids>
using ComObject = ComObjectOf<Offers<Interface, Iids...>>;

}  // namespace platform
