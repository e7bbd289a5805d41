// C_WaitForSlotEvent: insertions, removals, new and vanished readers.
#include <atomic>
#include <cstring>
#include <future>

#include "SessionTestSupport.h"

namespace {

using namespace std::chrono_literals;

class SlotEvents : public ProviderFixture {
protected:
    void initialiseWith(std::initializer_list<std::pair<const char*, bool>> readers) {
        for (const auto& r : readers) cardsim_addReader(r.first, r.second);
        loadProvider();
        ASSERT_NE(p11, nullptr);
        ASSERT_RV(CKR_OK, p11->C_Initialize(nullptr));
    }
    // The slot of the next event, CKR_NO_EVENT as 0 with rv set.
    CK_RV poll(CK_SLOT_ID* slot) {
        *slot = 0;
        return p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, slot, nullptr);
    }
    void expectEvent(const char* reader) {
        CK_SLOT_ID slot = 0;
        EXPECT_RV(CKR_OK, poll(&slot)) << reader;
        EXPECT_EQ(slot, slotIdOf(reader)) << reader;
    }
    void expectNoEvent() {
        CK_SLOT_ID slot = 0;
        EXPECT_RV(CKR_NO_EVENT, poll(&slot));
    }
};

TEST_F(SlotEvents, NothingChangedMeansNoEvent) {
    initialiseWith({{"R1", true}, {"R2", false}});
    expectNoEvent();
    expectNoEvent();
    EXPECT_RV(CKR_ARGUMENTS_BAD, p11->C_WaitForSlotEvent(CKF_DONT_BLOCK, nullptr, nullptr));
}

TEST_F(SlotEvents, InsertionAndRemovalAreEachReportedOnce) {
    initialiseWith({{"R1", false}});
    cardsim_insertCard("R1");
    expectEvent("R1");
    expectNoEvent();
    cardsim_removeCard("R1");
    expectEvent("R1");
    expectNoEvent();
}

TEST_F(SlotEvents, TwoChangesComeOneAfterTheOtherInReaderOrder) {
    initialiseWith({{"R1", true}, {"R2", false}, {"R3", true}});
    cardsim_removeCard("R3");
    cardsim_insertCard("R2");
    expectEvent("R2");
    expectEvent("R3");
    expectNoEvent();
}

TEST_F(SlotEvents, NewReaderWithACardIsAnEventWithoutOneOnlyAState) {
    initialiseWith({{"R1", true}});
    cardsim_addReader("Empty", false);
    expectNoEvent();
    cardsim_addReader("Full", true);
    expectEvent("Full");
    expectNoEvent();
    // The new reader is a slot now, and its later insertion an event.
    CK_SLOT_INFO info;
    EXPECT_RV(CKR_OK, p11->C_GetSlotInfo(slotIdOf("Full"), &info));
    cardsim_insertCard("Empty");
    expectEvent("Empty");
}

TEST_F(SlotEvents, VanishedReaderIsReportedOnceAndStopsBeingASlot) {
    initialiseWith({{"R1", true}, {"R2", true}});
    cardsim_removeReader("R2");
    expectEvent("R2");
    expectNoEvent();
    CK_SLOT_INFO info;
    EXPECT_RV(CKR_SLOT_ID_INVALID, p11->C_GetSlotInfo(slotIdOf("R2"), &info));
    // A reader without a card vanishing is no event.
    cardsim_addReader("R3", false);
    expectNoEvent();
    cardsim_removeReader("R3");
    expectNoEvent();
}

TEST_F(SlotEvents, ReaderVanishingWhileAnotherAppearsGivesBothEvents) {
    // The reader count stays the same; neither change may be lost.
    initialiseWith({{"R1", true}, {"R2", true}});
    cardsim_removeReader("R2");
    cardsim_addReader("R3", true);
    CK_SLOT_ID first = 0, second = 0;
    ASSERT_RV(CKR_OK, poll(&first));
    ASSERT_RV(CKR_OK, poll(&second));
    EXPECT_EQ(first, slotIdOf("R3"));
    EXPECT_EQ(second, slotIdOf("R2"));
    expectNoEvent();
}

TEST_F(SlotEvents, BlockingWaitReturnsOnInsertion) {
    initialiseWith({{"R1", false}});
    auto waiter = std::async(std::launch::async, [this] {
        CK_SLOT_ID slot = 0;
        CK_RV rv = p11->C_WaitForSlotEvent(0, &slot, nullptr);
        return std::make_pair(rv, slot);
    });
    std::this_thread::sleep_for(300ms);
    // Other calls go on while the wait sleeps.
    CK_ULONG count = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_RV(CKR_OK, p11->C_GetSlotList(CK_FALSE, nullptr, &count));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    cardsim_insertCard("R1");
    ASSERT_EQ(waiter.wait_for(3s), std::future_status::ready);
    auto result = waiter.get();
    EXPECT_RV(CKR_OK, result.first);
    EXPECT_EQ(result.second, slotIdOf("R1"));
}

TEST_F(SlotEvents, BlockingWaitEndsWhenAnotherThreadFinalises) {
    initialiseWith({{"R1", true}});
    auto waiter = std::async(std::launch::async, [this] {
        CK_SLOT_ID slot = 0;
        return p11->C_WaitForSlotEvent(0, &slot, nullptr);
    });
    std::this_thread::sleep_for(200ms);
    ASSERT_RV(CKR_OK, p11->C_Finalize(nullptr));
    auto finalised = std::chrono::steady_clock::now();
    // One poll period is 2 s.
    ASSERT_EQ(waiter.wait_for(2500ms), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - finalised, 2500ms);
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, waiter.get());
}

TEST_F(SlotEvents, NotInitialisedAnswersAtOnce) {
    loadProvider();
    ASSERT_NE(p11, nullptr);
    CK_SLOT_ID slot = 0;
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, p11->C_WaitForSlotEvent(0, &slot, nullptr));
}

}  // namespace
