#include "portselect/TDeviceSelectionForm.h"

#include "PortSelectTestSupport.h"

#include <QMetaObject>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

using test::FakePorts;
using Entries = std::vector<std::string>;

TEST(DeviceSelectionForm, ListsADirectEntryForEachPresentPort) {
    FakePorts ports({12, 1}, {{5, "/nonexistent/pellwick-no-such-device"}});
    TDeviceSelectionForm form;
    EXPECT_TRUE(form.EntryList().empty());
    form.AddPortEntries();
    EXPECT_EQ(form.EntryList(), (Entries{"Direct to COM1", "Direct to COM12"}));
}

TEST(DeviceSelectionForm, NoPortAndPortsAbove50GiveAnEmptyList) {
    for (const std::vector<int>& present : {std::vector<int>{}, std::vector<int>{51, 99}}) {
        FakePorts ports(present);
        TDeviceSelectionForm form;
        form.AddPortEntries();
        EXPECT_TRUE(form.EntryList().empty()) << present.size() << " ports above 50";
    }
}

TEST(DeviceSelectionForm, PendingEventsRunWhileThePortsAreProbed) {
    FakePorts ports({1, 50});
    TDeviceSelectionForm form;
    bool probing = false;
    std::size_t entriesWhenRun = 0;
    bool ran = false;
    QMetaObject::invokeMethod(
        &form,
        [&] {
            ran = probing;
            entriesWhenRun = form.EntryList().size();
        },
        Qt::QueuedConnection);
    probing = true;
    form.AddPortEntries();
    probing = false;
    EXPECT_TRUE(ran) << "a posted event waited for the whole list";
    EXPECT_EQ(entriesWhenRun, 1u) << "events are processed after each port, not at the end";
}

} // namespace
} // namespace pellwick
