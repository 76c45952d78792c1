#include "mapi/MapiBuffer.h"
#include "mapi/MapiInit.h"
#include "mapi/MapiMemory.h"
#include "mapi/MapiPtr.h"
#include "mapi/MapiValues.h"

#include "MapiWorld.h"

#include <cstring>
#include <new>

namespace {

using namespace MapiTesting;
using namespace MapiDouble;

// Counts references the way a MAPI object does, so ownership can be watched without MAPI.
struct CCounted {
    ULONG AddRef() { return ++references; }
    ULONG Release() { return --references; }
    ULONG references = 1;
};

TEST(TMapiPtr, HoldsExactlyOneReferenceOfItsOwn)
{
    CCounted object;
    {
        Mapi::TMapiPtr<CCounted> first(&object);
        EXPECT_EQ(2u, object.references);
        Mapi::TMapiPtr<CCounted> copy(first);
        EXPECT_EQ(3u, object.references);
        Mapi::TMapiPtr<CCounted> moved(std::move(copy));
        EXPECT_EQ(3u, object.references);
        EXPECT_FALSE(copy);
        copy = moved;
        EXPECT_EQ(4u, object.references);
        moved.Reset();
        EXPECT_EQ(3u, object.references);
        *copy.Out() = nullptr; // an out parameter gives up what was held first
        EXPECT_EQ(2u, object.references);
        EXPECT_EQ(&object, first.Detach());
        EXPECT_EQ(2u, object.references);
    }
    EXPECT_EQ(2u, object.references) << "a detached reference is the caller's to release";
}

TEST_F(MapiTest, MemoryOwnersFreeWhatTheyHoldBeforeTakingMore)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::TMapiMemory<SPropValue> values;
    values.Allocate(2);
    values.Allocate(3);
    ASSERT_EQ(S_OK, ::MAPIAllocateBuffer(8, reinterpret_cast<void**>(values.Out())));
    Mapi::TMapiMemory<ENTRYID> emptied;
    ASSERT_EQ(S_OK, ::MAPIAllocateBuffer(8, reinterpret_cast<void**>(emptied.Out())));
    emptied.Free();
    EXPECT_EQ(nullptr, emptied.get());
}

TEST_F(MapiTest, AFailedAllocationRaisesAndLeavesTheOwnerEmpty)
{
    world.AddFault(MakeFault(L"MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY));
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::TMapiMemory<SPropValue> values;

    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, MapiErrorOf([&] { values.Allocate(1); }).Code);
    EXPECT_EQ(nullptr, values.get());
}

TEST_F(MapiTest, ARowSetIsFreedRowByRow)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::CMapiSRowSet rows;
    ASSERT_EQ(S_OK, ::MAPIAllocateBuffer(CbNewSRowSet(2), reinterpret_cast<void**>(rows.Out())));
    rows->cRows = 2;
    for (ULONG index = 0; index < rows->cRows; ++index) {
        rows->aRow[index].cValues = 1;
        ASSERT_EQ(S_OK, ::MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void**>(&rows->aRow[index].lpProps)));
    }
}

TEST_F(MapiTest, BinaryCopiesShareOneBlockThatOutlivesTheOriginal)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    const BYTE bytes[] = {0, 1, 2, 0xFE, 0xFF};
    Mapi::CMapiBuffer copy;
    {
        const Mapi::CMapiBuffer original(bytes, sizeof bytes);
        copy = original;
        EXPECT_EQ(original.Data(), copy.Data());
    }
    ASSERT_EQ(sizeof bytes, copy.Size());
    EXPECT_EQ(0, std::memcmp(bytes, copy.Data(), sizeof bytes));

    const Mapi::CMapiBuffer none(bytes, 0);
    EXPECT_TRUE(none.Empty());
    EXPECT_EQ(nullptr, none.Data());
}

TEST_F(MapiTest, OnlyABinaryPropertyIsCopied)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    BYTE bytes[] = {7, 8, 9};
    SPropValue binary{};
    binary.ulPropTag = PR_ENTRYID;
    binary.Value.bin.cb = sizeof bytes;
    binary.Value.bin.lpb = bytes;
    SPropValue error{};
    error.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(PR_ENTRYID));
    error.Value.err = MAPI_E_NOT_FOUND;

    EXPECT_EQ(3u, Mapi::CMapiBuffer(binary).Size());
    EXPECT_TRUE(Mapi::CMapiBuffer(error).Empty());
}

TEST_F(MapiTest, ABinaryCopyWithoutMemoryRaisesBadAlloc)
{
    world.AddFault(MakeFault(L"MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY));
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    const BYTE bytes[] = {1};

    EXPECT_THROW(Mapi::CMapiBuffer(bytes, sizeof bytes), std::bad_alloc);
}

TEST_F(MapiTest, AnEntryListIsOneBlockBuiltOnceAndAgainAfterEachAddition)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    const BYTE first[] = {1, 2, 3};
    const BYTE second[] = {4, 5};
    Mapi::CMapiEntryList list;
    list.Add(Mapi::CMapiBuffer(first, sizeof first));
    list.Add(Mapi::CMapiBuffer(second, sizeof second));

    const ENTRYLIST* built = list.Get();
    ASSERT_EQ(2u, built->cValues);
    ASSERT_EQ(3u, built->lpbin[0].cb);
    EXPECT_EQ(0, std::memcmp(first, built->lpbin[0].lpb, 3));
    ASSERT_EQ(2u, built->lpbin[1].cb);
    EXPECT_EQ(0, std::memcmp(second, built->lpbin[1].lpb, 2));
    EXPECT_EQ(built, list.Get());

    list.Add(Mapi::CMapiBuffer(first, sizeof first));
    EXPECT_EQ(3u, list.Count());
    EXPECT_EQ(3u, list.Get()->cValues);
}

TEST_F(MapiTest, AnEntryListThatCannotBeBuiltRaisesAndLeavesNothing)
{
    Fault fault = MakeFault(L"MAPIAllocateMore", MAPI_E_NOT_ENOUGH_MEMORY);
    fault.Use = 2;
    world.AddFault(fault);
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    const BYTE bytes[] = {1, 2, 3};
    Mapi::CMapiEntryList list;
    list.Add(Mapi::CMapiBuffer(bytes, sizeof bytes));

    EXPECT_EQ(MAPI_E_NOT_ENOUGH_MEMORY, MapiErrorOf([&] { list.Get(); }).Code);
}

TEST_F(MapiTest, StringValuesAreCopiedOntoTheirParentBlock)
{
    Mapi::CMapiInit guard(MAPI_NT_SERVICE);
    Mapi::TMapiMemory<SPropValue> values;
    values.Allocate(2);

    Mapi::SetPropValueA(values.get()[0], values.get(), 0x6607001E, "/o=Org/cn=M\xFCller");
    Mapi::SetPropValueW(values.get()[1], values.get(), PR_SUBJECT_W, L"Gr\u00fc\u00dfe \U0001F600");

    EXPECT_EQ(0x6607001Eu, values.get()[0].ulPropTag);
    EXPECT_STREQ("/o=Org/cn=M\xFCller", values.get()[0].Value.lpszA);
    EXPECT_EQ(static_cast<ULONG>(PR_SUBJECT_W), values.get()[1].ulPropTag);
    EXPECT_STREQ(L"Gr\u00fc\u00dfe \U0001F600", values.get()[1].Value.lpszW);
}

TEST(CheckRow, AcceptsOnlyTheRequestedColumnsInOrder)
{
    SPropValue values[2]{};
    values[0].ulPropTag = PR_ENTRYID;
    values[1].ulPropTag = PR_SUBJECT_W;
    SRow row{0, 2, values};
    SizedSPropTagArray(2, tags) = {2, {PR_ENTRYID, PR_SUBJECT_W}};
    const SPropTagArray* const columns = reinterpret_cast<const SPropTagArray*>(&tags);

    EXPECT_TRUE(Mapi::CheckRow(row, *columns, false));

    values[1].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(PR_SUBJECT_W));
    EXPECT_FALSE(Mapi::CheckRow(row, *columns, true));
    EXPECT_EQ(MAPI_E_INVALID_TYPE, MapiErrorOf([&] { Mapi::CheckRow(row, *columns, false); }).Code);

    row.cValues = 1;
    EXPECT_FALSE(Mapi::CheckRow(row, *columns, true));
    EXPECT_EQ(MAPI_E_BAD_VALUE, MapiErrorOf([&] { Mapi::CheckRow(row, *columns, false); }).Code);
}

} // namespace
