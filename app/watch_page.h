// The window's live page: a bar per processor for its effective clock against P0,
// its P-state, and the package's temperature and power now and over the last
// minute. F2 switches between it and the main page; it samples once a second
// while it is shown and not at all otherwise.
#pragma once
#include <cstdint>

namespace app {

inline constexpr uint32_t page_key = 113;      // F2, as a virtual-key code
inline constexpr uint32_t page_core_rows = 32; // processors with a bar of their own; one more for the rest
inline constexpr uint32_t page_history = 64;   // samples a trace holds

// One processor's line: its text ("  3 P2  3600") and its bar's share of P0's clock in 1/255.
struct PageCore {
    char label[15];
    uint8_t level;
};
static_assert(sizeof(PageCore) == 16); // widgets of row r read 4 * r bytes further: rows are added 4 apart

struct WatchPageState {
    uint8_t shown;           // 1 while the page is in the window (shared with the ticker thread)
    uint8_t ticker_running;  // 1 while the ticker thread exists (shared with it)
    uint32_t tick_ms = 1000; // refresh period; 0: no ticker (tests call watch_page_tick themselves)
    uint32_t samples;        // samples taken since the page was opened
    char package[64];        // temperature and power now
    char reference[64];      // the clock the bars are measured against
    char celsius_scale[32];  // the range of the temperature trace
    char watts_scale[32];    // the range of the power trace
    PageCore cores[page_core_rows + 1];
    int32_t celsius_history[page_history]; // 1/10 degrees, oldest first; INT32_MIN unknown
    int32_t watts_history[page_history];   // 1/10 W
    int8_t celsius_trace[page_history];    // the traces as the trace widget draws them
    int8_t watts_trace[page_history];
};
extern WatchPageState watch_page;

// The main window's key hook: F2 opens or closes the page.
void watch_page_key(uint32_t key);

// Shows the page in place of the main page: takes the first counters and starts the ticker.
void open_watch_page();

// Stops the ticker and puts the main page back, exactly as it was drawn.
void close_watch_page(int32_t id = -1);

// One refresh: a sample, the page's texts, bars and traces, drawn and shown.
void watch_page_tick();

// Ends the ticker if it runs and forgets the page (tests start clean with this).
void reset_watch_page();

} // namespace app
