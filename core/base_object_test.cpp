#include "core/base_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/nesting_bound.h"
#include "core/object_store.h"
#include "core/server_name.h"
#include "core/store_value.h"
#include "core/test_support.h"
#include "diagnostics/logger.h"

namespace {

using corvan_test::EntryLines;
using corvan_test::Error;
using corvan_test::ErrorOf;

// A leaf written the way the resource classes write theirs; the links of
// composites to their children are pinned by the golden trees of the
// registry and directory tests.
class CTestLeaf : public CBaseObject {
public:
    int SaveProperties(CObjectStore& store) override {
        BeginLeafSection(store, L"CTestLeaf");
        CStoreValue v;
        v.SetString(Name);
        store.AddToSection(L"Name", v.GetEncoded());
        return CBaseObject::SaveProperties(store);
    }
    std::wstring Name;
};

TEST(BaseObjectTest, EveryObjectAnswersTheBaseClassRecordAndSavesItsKeys) {
    CTestLeaf leaf;
    const CRuntimeClass* rc = leaf.GetRuntimeClass();
    EXPECT_STREQ(L"CBaseObject", rc->ClassName);
    std::unique_ptr<CBaseObject> made(static_cast<CBaseObject*>(rc->CreateObject()));
    EXPECT_EQ(&CBaseObject::classCBaseObject, made->GetRuntimeClass());

    CObjectStore store;
    leaf.SaveProperties(store);
    EXPECT_EQ((std::vector<std::wstring>{L"1|class=CTestLeaf", L"1|parent=NULL", L"1|Name=\"\""}), EntryLines(store));

    CObjectStore full;
    leaf.ServerName = L"\\\\SRV01";
    leaf.ErrorCode = L"5";  // LastErrorCode left 0
    leaf.ErrorDescription = L"d";
    leaf.Task = L"not saved";
    leaf.SaveProperties(full);
    EXPECT_EQ((std::vector<std::wstring>{L"1|class=CTestLeaf", L"1|parent=NULL", L"1|Name=\"\"",
                                         L"1|ServerName=\"\\\\SRV01\"", L"1|ErrorCode=\"5\"",
                                         L"1|LastErrorCode=dword:00000000", L"1|ErrorDescription=\"d\""}),
              EntryLines(full));
}

class SetErrorTest : public corvan_test::WorldTest {};

TEST_F(SetErrorTest, FailureRecordsTheSystemTextOnOneLineAndALaterSuccessKeepsIt) {
    CBaseObject object;
    Watch(object);
    object.SetError(L"CShare::Add()", L"NetShareAdd(Public)", 5);
    EXPECT_EQ(Error(L"5", 5, L"CShare::Add()", L"NetShareAdd(Public)", L"Access is denied.  "), ErrorOf(object));
    EXPECT_EQ(std::vector<DWORD>{kLogError}, log_.levels);
    EXPECT_EQ(std::vector<std::wstring>{L"CShare::Add(),NetShareAdd(Public),5,Access is denied.  "}, log_.texts);

    object.SetError(L"f", L"a", 2118);  // from the network message table
    EXPECT_EQ(L"The share name is already in use on this server.  ", object.ErrorDescription);
    object.SetError(L"f", L"a", 0x7ffffff0);
    EXPECT_EQ(L"FormatMessage failed to get full description.", object.ErrorDescription);
    EXPECT_EQ(L"2147483632", object.ErrorCode);

    // A success after a failure keeps the failure, and is logged as information.
    object.SetError(L"CPort::Add()", L"AddPort()", 1722);
    object.SetError(L"CPort::Restore()", L"CPort::Restore()", 0);
    EXPECT_EQ(Error(L"1722", 1722, L"CPort::Add()", L"AddPort()", L"The RPC server is unavailable.  "),
              ErrorOf(object));
    EXPECT_EQ((std::vector<DWORD>{kLogError, kLogError, kLogError, kLogError, kLogInformation}), log_.levels);
    EXPECT_EQ(L"CPort::Restore(),CPort::Restore(),0", log_.texts.back());
}

TEST(ServerNameTest, OnlyTheServerPartThatBeginsATextIsReplaced) {
    const struct {
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {L"\\\\OLD\\D$\\Data", L"\\\\NEW\\D$\\Data"},
        {L"\\\\old\\LASER01", L"\\\\NEW\\LASER01"},  // names ignore case
        {L"\\\\OLD", L"\\\\NEW"},
        {L"\\\\OLDER\\D$", L"\\\\OLDER\\D$"},  // another machine
        {L"D:\\OLD\\x", L"D:\\OLD\\x"},
        {L"\\\\SRV\\OLD", L"\\\\SRV\\OLD"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        std::wstring text = c.text;
        const int replaced = std::wstring(c.text) != c.expected ? 1 : 0;
        EXPECT_EQ(replaced, ReplaceServerPart(text, L"\\\\OLD", L"NEW")) << c.text;
        EXPECT_EQ(c.expected, text);
    }
    std::wstring unchanged = L"\\\\OLD\\x";
    EXPECT_EQ(0, ReplaceServerPart(unchanged, L"\\\\", L"\\\\NEW"));
}

TEST(ServerNameTest, ServerNamesAndDomainsFollowTheMachine) {
    CBaseObject object(L"\\\\srv01");
    EXPECT_EQ(1, object.ReplaceServerName(L"\\\\SRV01", L"\\\\SRV02"));
    EXPECT_EQ(L"\\\\SRV02", object.ServerName);
    CBaseObject twice(L"\\\\OLD\\OLD");  // a name without its backslashes is replaced wherever it stands
    EXPECT_EQ(2, twice.ReplaceServerName(L"OLD", L"NEW"));
    EXPECT_EQ(L"\\\\NEW\\NEW", twice.ServerName);
    EXPECT_EQ(0, twice.ReplaceServerName(L"", L"x"));

    std::wstring domain = L"srv01";
    EXPECT_EQ(1, ReplaceServerWord(domain, L"\\\\SRV01", L"\\\\SRV02"));
    EXPECT_EQ(L"SRV02", domain);
    domain = L"CORP";
    EXPECT_EQ(0, ReplaceServerWord(domain, L"\\\\SRV01", L"\\\\SRV02"));
    EXPECT_EQ(L"CORP", domain);
}

// Descends until the bound stops it; returns the deepest level reached.
int Descend(int& counter) {
    CNestingLevel level(counter);
    if (level.TooDeep()) return level.Depth();
    return Descend(counter);
}

TEST(NestingBoundTest, LevelsCountTheDescentTheBoundStopsItAt513AndARefusalSaysWhy) {
    int counter = 0;
    EXPECT_EQ(kMaxNestingDepth + 1, Descend(counter));
    EXPECT_EQ(0, counter);  // every level gave its count back

    CBaseObject top, middle, deepest, unknown;
    CTreeDepths tree(&top);
    EXPECT_EQ(2, tree.ChildLevel(&top));
    EXPECT_TRUE(tree.Add(&middle, kMaxNestingDepth));
    EXPECT_EQ(kMaxNestingDepth + 1, tree.ChildLevel(&middle));
    EXPECT_FALSE(tree.Add(&deepest, tree.ChildLevel(&middle)));
    EXPECT_FALSE(tree.Knows(&deepest));
    EXPECT_GT(tree.ChildLevel(&unknown), kMaxNestingDepth);

    CBaseObject object;
    EXPECT_EQ(0, RefuseNesting(object, L"CCompositeShare::LoadProperty()", L"section 600"));
    EXPECT_EQ(Error(L"13", 13, L"CCompositeShare::LoadProperty()", L"nested deeper than 512 levels at section 600",
                    L"Objects are nested deeper than 512 levels."),
              ErrorOf(object));
}

}  // namespace
