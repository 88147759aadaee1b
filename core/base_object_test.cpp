#include "core/base_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/object_store.h"
#include "core/store_value.h"
#include "core/test_support.h"
#include "diagnostics/logger.h"

namespace {

// A leaf and a composite written the way the resource classes write theirs.
class CTestLeaf : public CBaseObject {
public:
    int SaveProperties(CObjectStore& store) override {
        BeginLeafSection(store, L"CTestLeaf");
        CStoreValue v;
        v.SetString(Name);
        store.AddToSection(L"Name", v.GetEncoded());
        return CBaseObject::SaveProperties(store);
    }
    int LoadProperty(CObjectStore& store) override {
        return LoadSectionEntries(store, [this](const std::wstring& key, const std::wstring& value) {
            if (key == L"Name") CStoreValue::GetString(value, Name);
        });
    }
    std::wstring Name;
};

class CTestComposite : public CBaseObject {
public:
    int SaveProperties(CObjectStore& store) override {
        std::wstring own = BeginCompositeSection(store, L"CTestComposite");
        CBaseObject::SaveProperties(store);
        for (auto& child : Children) SaveChildSection(store, own, *child);
        return 1;
    }
    std::vector<std::unique_ptr<CBaseObject>> Children;
};

std::vector<std::wstring> Entries(const CObjectStore& store, const std::wstring& onlyKey = L"") {
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < store.GetEntryCount(); ++i) {
        const CStoreEntry& e = store.GetEntryAt(i);
        if (onlyKey.empty() || e.Key == onlyKey) lines.push_back(e.Section + L"|" + e.Key + L"=" + e.Value);
    }
    return lines;
}

TEST(BaseObjectTest, EveryObjectAnswersTheBaseClassRecord) {
    CTestLeaf leaf;
    const CRuntimeClass* rc = leaf.GetRuntimeClass();
    EXPECT_STREQ(L"CBaseObject", rc->ClassName);
    std::unique_ptr<CBaseObject> made(static_cast<CBaseObject*>(rc->CreateObject()));
    EXPECT_EQ(&CBaseObject::classCBaseObject, made->GetRuntimeClass());
}

TEST(BaseObjectTest, SavedKeys) {
    CObjectStore store;
    CTestLeaf fresh;
    fresh.SaveProperties(store);
    EXPECT_EQ((std::vector<std::wstring>{L"1|class=CTestLeaf", L"1|parent=NULL", L"1|Name=\"\""}), Entries(store));

    CObjectStore full;
    CTestLeaf leaf;
    leaf.ServerName = L"\\\\SRV01";
    leaf.ErrorCode = L"5";  // LastErrorCode left 0
    leaf.ErrorDescription = L"d";
    leaf.Task = L"not saved";
    leaf.SaveProperties(full);
    EXPECT_EQ((std::vector<std::wstring>{L"1|class=CTestLeaf", L"1|parent=NULL", L"1|Name=\"\"",
                                         L"1|ServerName=\"\\\\SRV01\"", L"1|ErrorCode=\"5\"",
                                         L"1|LastErrorCode=dword:00000000", L"1|ErrorDescription=\"d\""}),
              Entries(full));
}

TEST(BaseObjectTest, SectionsLinkToTheirParents) {
    CObjectStore store;
    CTestComposite outer;
    outer.Children.push_back(std::make_unique<CTestLeaf>());
    auto inner = std::make_unique<CTestComposite>();
    inner->Children.push_back(std::make_unique<CTestLeaf>());
    outer.Children.push_back(std::move(inner));
    outer.Children.push_back(std::make_unique<CTestLeaf>());
    outer.SaveProperties(store);
    EXPECT_EQ((std::vector<std::wstring>{L"1|parent=NULL", L"2|parent=1", L"3|parent=1", L"4|parent=3",
                                         L"5|parent=1"}),
              Entries(store, L"parent"));

    // Two leaves saved one after the other at the top both say NULL.
    CObjectStore flat;
    CTestLeaf a, b;
    a.SaveProperties(flat);
    b.SaveProperties(flat);
    EXPECT_EQ((std::vector<std::wstring>{L"1|parent=NULL", L"2|parent=NULL"}), Entries(flat, L"parent"));
}

TEST(BaseObjectTest, LoadPropertyReadsItsSectionAndStopsAtTheNext) {
    CObjectStore store;
    store.AddEntry(L"1", L"class", L"CTestLeaf", 1);
    store.AddEntry(L"1", L"Name", L"\"Public\"", 2);
    store.AddEntry(L"1", L"name", L"\"class keys keep their case\"", 3);
    store.AddEntry(L"1", L"servername", L"\"\\\\SRV02\"", 4);
    store.AddEntry(L"1", L"LASTERRORCODE", L"dword:00000035", 5);
    store.AddEntry(L"2", L"class", L"CTestLeaf", 6);
    store.AddEntry(L"2", L"Name", L"\"Second\"", 7);

    store.Next();
    CTestLeaf first;
    EXPECT_EQ(1, first.LoadProperty(store));
    EXPECT_EQ(L"Public", first.Name);
    EXPECT_EQ(L"\\\\SRV02", first.ServerName);
    EXPECT_EQ(0x35u, first.LastErrorCode);
    ASSERT_EQ(1, store.Next());
    EXPECT_EQ(L"class", store.CurrentKey());
    EXPECT_EQ(L"2", store.CurrentEntrySection());
    CTestLeaf second;
    second.LoadProperty(store);
    EXPECT_EQ(L"Second", second.Name);
}

TEST(BaseObjectTest, ReplaceServerNameCountsReplacements) {
    CBaseObject object(L"\\\\OLD\\OLD");
    EXPECT_EQ(2, object.ReplaceServerName(L"OLD", L"NEW"));
    EXPECT_EQ(L"\\\\NEW\\NEW", object.ServerName);
    EXPECT_EQ(0, object.ReplaceServerName(L"", L"x"));
}

class SetErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger_.AddTarget(L"Recorder", &recorder_);
        object_.Logger = &logger_;
    }
    corvan_test::RecordingTarget recorder_;
    CLogger logger_;
    CBaseObject object_;
};

TEST_F(SetErrorTest, FailureRecordsTheSystemTextOnOneLine) {
    object_.SetError(L"CShare::Add()", L"NetShareAdd(Public)", 5);
    EXPECT_EQ(L"5", object_.ErrorCode);
    EXPECT_EQ(5u, object_.LastErrorCode);
    EXPECT_EQ(L"CShare::Add()", object_.ErrorFunction);
    EXPECT_EQ(L"NetShareAdd(Public)", object_.ErrorWin32API);
    EXPECT_EQ(L"Access is denied.  ", object_.ErrorDescription);
    EXPECT_EQ(std::vector<DWORD>{kLogError}, recorder_.levels);
    EXPECT_EQ(std::vector<std::wstring>{L"CShare::Add(),NetShareAdd(Public),5,Access is denied.  "}, recorder_.texts);

    object_.SetError(L"f", L"a", 2118);  // from the network message table
    EXPECT_EQ(L"The share name is already in use on this server.  ", object_.ErrorDescription);
    object_.SetError(L"f", L"a", 0x7ffffff0);
    EXPECT_EQ(L"FormatMessage failed to get full description.", object_.ErrorDescription);
    EXPECT_EQ(L"2147483632", object_.ErrorCode);
}

TEST_F(SetErrorTest, SuccessAfterFailureKeepsTheFailure) {
    object_.SetError(L"CPort::Add()", L"AddPort()", 1722);
    object_.SetError(L"CPort::Restore()", L"CPort::Restore()", 0);
    EXPECT_EQ(L"1722", object_.ErrorCode);
    EXPECT_EQ(1722u, object_.LastErrorCode);
    EXPECT_EQ(L"CPort::Add()", object_.ErrorFunction);
    EXPECT_EQ(L"AddPort()", object_.ErrorWin32API);
    EXPECT_EQ(L"The RPC server is unavailable.  ", object_.ErrorDescription);
    ASSERT_EQ(2u, recorder_.texts.size());
    EXPECT_EQ(static_cast<DWORD>(kLogInformation), recorder_.levels[1]);
    EXPECT_EQ(L"CPort::Restore(),CPort::Restore(),0", recorder_.texts[1]);
}

}  // namespace
