#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "acquisition/acquisition_status.h"
#include "acquisition/twain_messages.h"

namespace {

using namespace dovrikna;

// One process-wide status word: the test sets it explicitly before each step.
TEST(AcquisitionStatus, QueriesTakeAReportOnceAndLeaveIdle)
{
    acquisitionStatus.store(STATUS_PENDING);
    EXPECT_EQ(STATUS_PENDING, takeStatusLeavingIdle());
    EXPECT_EQ(STATUS_IDLE, takeStatusLeavingIdle());

    applyReport(TWM_FILE_READY);
    EXPECT_EQ(STATUS_SIGNALLED, takeStatusLeavingIdle());
    EXPECT_EQ(STATUS_IDLE, takeStatusLeavingIdle());

    applyReport(TWM_ACQUIRE_CANCELLED);
    applyReport(TWM_ACQUIRE); // a request: no change
    applyReport(TWM_NEXT_FILE);
    EXPECT_EQ(STATUS_FINISHED, acquisitionStatus.load());
    EXPECT_EQ(STATUS_FINISHED, takeStatusLeavingIdle());
    EXPECT_EQ(STATUS_IDLE, takeStatusLeavingIdle());
}

// A reporter hands over one file at a time, as the writers do: it reports
// TWM_FILE_READY and waits until the Java side has taken the report before it
// makes the next. The taking side counts what it takes. A report that lands
// between reading the status and storing STATUS_IDLE would be overwritten, the
// reporter would go on and the count would fall short.
TEST(AcquisitionStatus, NoReportIsLostBetweenReadAndStoreOfAQuery)
{
    const int rounds = 200000;
    acquisitionStatus.store(STATUS_IDLE);
    std::atomic<bool> done{false};
    int taken = 0, idle = 0;

    std::thread java([&] {
        while (!done.load() || acquisitionStatus.load() == STATUS_SIGNALLED) {
            const int status = takeStatusLeavingIdle();
            if (status == STATUS_SIGNALLED)
                ++taken;
            else if (status == STATUS_IDLE)
                ++idle;
            else
                ADD_FAILURE() << "status " << status;
        }
    });
    for (int i = 0; i < rounds; ++i) {
        applyReport(TWM_FILE_READY);
        while (acquisitionStatus.load() == STATUS_SIGNALLED) std::this_thread::yield();
    }
    done.store(true);
    java.join();

    EXPECT_EQ(rounds, taken) << "polls that found nothing new: " << idle;
}

} // namespace

namespace {

// A request made while a path waits leaves it signalled for the Java side to
// take; an earlier acquisition's end waits until every request marked pending
// has reached the worker, as the Java side would take it for the newer one's.
TEST(AcquisitionStatus, RequestsKeepAWaitingPathAndHoldBackAnEarlierEnd)
{
    struct Step {
        bool waiting;
        int before, after;
    } steps[] = {
        {true, STATUS_SIGNALLED, STATUS_SIGNALLED},
        {false, STATUS_SIGNALLED, STATUS_PENDING}, // a selection's answer, no path
        {true, STATUS_IDLE, STATUS_PENDING},
        {false, STATUS_FINISHED, STATUS_PENDING},
    };
    for (const Step& step : steps) {
        pathWaiting.store(step.waiting);
        acquisitionStatus.store(step.before);
        markRequestPending();
        EXPECT_EQ(step.after, acquisitionStatus.load()) << step.waiting << " " << step.before;
        applyReport(TWM_ACQUIRE_DONE);
        EXPECT_EQ(step.after, acquisitionStatus.load()) << "an end reported with a request on its way";
        requestTaken();
        applyReport(TWM_ACQUIRE_DONE);
        EXPECT_EQ(STATUS_FINISHED, acquisitionStatus.load());
    }
    pathWaiting.store(false);
}

} // namespace

namespace {

// What the Java side may do between an end report's read of the word and its
// store, the window the worker's thread can be held in: each row starts with
// no request on its way and ends with every request taken.
TEST(AcquisitionStatus, AnEndNeverOverwritesARequestMarkedSinceItsRead)
{
    struct Row {
        int before;
        const char* between; // r: a request marked, t: taken by the worker, p: a poll
        bool stored;
        int after;
    } rows[] = {
        {STATUS_PENDING, "", true, STATUS_FINISHED},
        {STATUS_PENDING, "r", false, STATUS_PENDING}, // PENDING over the PENDING of a request that failed at once
        {STATUS_PENDING, "rr", false, STATUS_PENDING},
        {STATUS_IDLE, "r", false, STATUS_PENDING},
        {STATUS_PENDING, "rp", false, STATUS_IDLE},
        {STATUS_IDLE, "rp", false, STATUS_IDLE},
        {STATUS_PENDING, "p", true, STATUS_FINISHED}, // the end of the request polled
        {STATUS_IDLE, "p", true, STATUS_FINISHED},
        {STATUS_PENDING, "rt", true, STATUS_FINISHED}, // a request whose post failed: no newer acquisition
    };
    pathWaiting.store(false);
    for (const Row& row : rows) {
        acquisitionStatus.store(row.before);
        const unsigned seen = readForEndReport();
        int marked = 0;
        for (const char* step = row.between; *step; ++step) {
            if (*step == 'r') {
                markRequestPending();
                ++marked;
            } else if (*step == 't') {
                requestTaken();
                --marked;
            } else {
                takeStatusLeavingIdle();
            }
        }
        EXPECT_EQ(row.stored, storeEndReport(seen)) << row.before << " '" << row.between << "'";
        EXPECT_EQ(row.after, acquisitionStatus.load()) << row.before << " '" << row.between << "'";
        for (; marked > 0; --marked) requestTaken();
    }
}

} // namespace
