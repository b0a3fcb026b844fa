#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/component_frame.h"
#include "library/component_table.h"

namespace {

using namespace cartovane;

const IID kUnlisted = com::MakeGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");

template <class Frame>
class Probe : public Frame {
public:
    HRESULT Import(ISBStream*, ISBDocumentRoot*, const VARIANT&) { return S_OK; }
    HRESULT Export(ISBStream*, ISBDocumentRoot*, const VARIANT&) { return S_OK; }
};

class ProbeA final : public Probe<ImporterExporterFrame> {};
class ProbeB final : public ImportOnlyFrame {
public:
    HRESULT Import(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
};
class ProbeC final : public ConnectedImporterExporterFrame {
public:
    HRESULT Import(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
    HRESULT Export(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
};
class ProbeE final : public ConversionFrame {
public:
    HRESULT Export(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
};
class ProbeAImpl final : public ImporterExporterFrame {
public:
    HRESULT Import(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
    HRESULT Export(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
};
class PooledProbe final : public ImporterExporterFrame, public PoolAllocated<PooledProbe> {
public:
    using PoolAllocated<PooledProbe>::operator delete;
    HRESULT Import(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
    HRESULT Export(ISBStream*, ISBDocumentRoot*, const VARIANT&) override { return S_OK; }
    std::vector<char> payload = std::vector<char>(16);
};

struct MapCase {
    const char* member;
    CCfxUnknown* (*make)();
    std::vector<IID> answered;  // the interfaces the map lists
};

template <class T>
CCfxUnknown* Make() {
    CCfxUnknown* out = nullptr;
    CreateOnHeap<T>(&out);
    return out;
}

std::vector<MapCase> MapCases() {
    return {
        {"A", &Make<ProbeAImpl>, {IID_ISBImporter, IID_ISBExporter, IID_ISupportErrorInfo}},
        {"B", &Make<ProbeB>, {IID_ISBImporter, IID_ISBContainerRootConsumer, IID_ISupportErrorInfo}},
        {"C", &Make<ProbeC>,
         {IID_ISBImporter, IID_ISBExporter, IID_ISBContainerRootConsumer, IID_ISupportErrorInfo}},
        {"E", &Make<ProbeE>, {IID_ISBExporter, IID_ISBContainerRootConsumer, IID_ISupportErrorInfo}},
    };
}

const std::vector<IID> kAllFrameInterfaces = {IID_ISBImporter, IID_ISBExporter, IID_ISBContainerRootConsumer,
                                             IID_ISupportErrorInfo};

bool Contains(const std::vector<IID>& ids, const IID& iid) {
    for (const IID& id : ids)
        if (id == iid) return true;
    return false;
}

TEST(InterfaceMap, AnswersItsListAndLeavesTheRestToTheFramework) {
    for (const MapCase& c : MapCases()) {
        SCOPED_TRACE(c.member);
        CCfxUnknown* object = c.make();
        for (const IID& iid : kAllFrameInterfaces) {
            void* part = reinterpret_cast<void*>(1);
            HRESULT hr = object->DelegatedQueryInterface(iid, &part);
            if (Contains(c.answered, iid)) {
                ASSERT_EQ(hr, S_OK);
                ASSERT_NE(part, nullptr);
                static_cast<IUnknown*>(part)->Release();
            } else {
                EXPECT_EQ(hr, E_NOINTERFACE);  // the framework's answer
                EXPECT_EQ(part, nullptr);
            }
        }
        void* unknown = nullptr;
        ASSERT_EQ(object->DelegatedQueryInterface(IID_IUnknown, &unknown), S_OK);
        EXPECT_EQ(unknown, object->ControllingUnknown());
        static_cast<IUnknown*>(unknown)->Release();
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->DelegatedQueryInterface(kUnlisted, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(object->RefCount(), 1u);
        object->DelegatedRelease();
    }
}

TEST(InterfaceMap, TestModeOffersErrorInfoForListedInterfacesOnly) {
    for (const MapCase& c : MapCases()) {
        SCOPED_TRACE(c.member);
        CCfxUnknown* object = c.make();
        ISupportErrorInfo* info = nullptr;
        ASSERT_EQ(object->DelegatedQueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
        for (const IID& iid : kAllFrameInterfaces)
            EXPECT_EQ(info->InterfaceSupportsErrorInfo(iid), Contains(c.answered, iid) ? S_OK : S_FALSE);
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(kUnlisted), S_FALSE);
        info->Release();
        object->DelegatedRelease();
    }
}

TEST(InterfaceMap, ConversionFrameAnswersExporterAndRefusesImporter) {
    CCfxUnknown* object = Make<ProbeE>();
    void* part = nullptr;
    EXPECT_EQ(object->DelegatedQueryInterface(IID_ISBImporter, &part), E_NOINTERFACE);
    ISBExporter* exporter = nullptr;
    ASSERT_EQ(object->DelegatedQueryInterface(IID_ISBExporter, reinterpret_cast<void**>(&exporter)), S_OK);
    EXPECT_EQ(exporter, static_cast<ISBExporter*>(static_cast<ProbeE*>(object)));
    exporter->Release();
    object->DelegatedRelease();
}

TEST(Forwarders, EveryPartSharesOneIdentityAndOneCount) {
    CCfxUnknown* object = Make<ProbeC>();
    ISBImporter* importer = nullptr;
    ISBExporter* exporter = nullptr;
    ASSERT_EQ(object->DelegatedQueryInterface(IID_ISBImporter, reinterpret_cast<void**>(&importer)), S_OK);
    ASSERT_EQ(importer->QueryInterface(IID_ISBExporter, reinterpret_cast<void**>(&exporter)), S_OK);
    EXPECT_EQ(object->RefCount(), 3u);
    exporter->AddRef();
    importer->Release();  // AddRef through one part, Release through another
    EXPECT_EQ(object->RefCount(), 3u);
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    importer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    exporter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();
    exporter->Release();
    exporter->Release();
    long before = CCfxUnknown::LiveObjects();
    object->DelegatedRelease();
    EXPECT_EQ(CCfxUnknown::LiveObjects(), before - 1);
}

// The creators of the components that check their out slot.
TEST(Creators, CheckingCreatorsRefuseANullSlotWithTheirOwnText) {
    struct Case {
        int row;
        const char* text;
    } cases[] = {
        {13, "No pointer supplied for output argument."},
        {15, "Invalid pointer passed to CreateInstance()"},
        {28, "No pointer supplied for output argument."},
        {29, "No pointer supplied for output argument."},
        {30, "No pointer supplied for output argument."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        EXPECT_EQ(ComponentFactoryTable[c.row].creator(nullptr), E_POINTER);
        EXPECT_EQ(Cfx::GetLastError().description, c.text);
        EXPECT_EQ(Cfx::GetLastError().clsid, GUID_NULL);
        // A slot holding garbage is cleared before anything else happens, row 15 included: a
        // component that is not built leaves it null, a built one puts itself there.
        CCfxUnknown* slot = reinterpret_cast<CCfxUnknown*>(0x1);
        const HRESULT hr = ComponentFactoryTable[c.row].creator(&slot);
        if (hr == S_OK) {
            ASSERT_NE(slot, nullptr);
            ASSERT_NE(slot, reinterpret_cast<CCfxUnknown*>(0x1));
            slot->DelegatedRelease();
        } else {
            EXPECT_EQ(slot, nullptr);
        }
    }
}

TEST(Creators, HeapCreatorStoresTheComponentHoldingOneReference) {
    CCfxUnknown* slot = nullptr;
    ASSERT_EQ(CreateOnHeap<ProbeAImpl>(&slot), S_OK);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->RefCount(), 1u);
    slot->DelegatedRelease();
}

TEST(Creators, PoolCreatorTakesAndGivesBackPoolBlocks) {
    qor::MemoryPool& pool = qor::MemoryPool::GetPool(sizeof(PooledProbe));
    std::size_t allocations = pool.Allocations(), giveBacks = pool.GiveBacks();
    CCfxUnknown* slot = nullptr;
    ASSERT_EQ(CreateInPool<PooledProbe>(&slot), S_OK);
    EXPECT_TRUE(pool.owns(slot) || pool.owns(dynamic_cast<PooledProbe*>(slot)));
    EXPECT_EQ(pool.Allocations(), allocations + 1);
    slot->DelegatedRelease();
    EXPECT_EQ(pool.GiveBacks(), giveBacks + 1);
}

TEST(Creators, ExhaustedPoolFailsAsTheHeapDoesAndBuildsNothing) {
    qor::MemoryPool& pool = qor::MemoryPool::GetPool(sizeof(PooledProbe));
    pool.SetCapacity(pool.BlocksInUse());
    long live = CCfxUnknown::LiveObjects();
    CCfxUnknown* slot = nullptr;
    try {
        CreateInPool<PooledProbe>(&slot);
        ADD_FAILURE() << "no exception";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(CCfxUnknown::LiveObjects(), live);
    pool.SetCapacity(qor::MemoryPool::kUnlimited);
}

TEST(Creators, NotYetBuiltComponentsCreateNothing) {
    for (int row = 0; row < kComponentCount; ++row) {
        CCfxUnknown* slot = reinterpret_cast<CCfxUnknown*>(0x1);
        HRESULT hr = ComponentFactoryTable[row].creator(&slot);
        if (hr == E_NOTIMPL) EXPECT_EQ(slot, nullptr) << row;
        else if (SUCCEEDED(hr)) slot->DelegatedRelease();
    }
}

}  // namespace
