#include "station/SlotFiber.h"

#include <QCoreApplication>
#include <chrono>
#include <exception>
#include <new>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define PELLWICK_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELLWICK_FIBER_ASAN 1
#endif
#endif
#ifdef PELLWICK_FIBER_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace pellwick {

namespace {

#ifdef PELLWICK_FIBER_ASAN
// The address sanitizer keeps its own picture of the stack in use and must be told of every
// switch, or it takes the other stack's frames for overflows.
constexpr std::size_t StackBytes = 4u << 20;
void StartSwitch(void** fakeStack, const void* bottom, std::size_t size) {
    __sanitizer_start_switch_fiber(fakeStack, bottom, size);
}
void FinishSwitch(void* fakeStack, const void** bottom, std::size_t* size) {
    __sanitizer_finish_switch_fiber(fakeStack, bottom, size);
}
#else
// A step runs the engine, the link and the port, never the event loop: a megabyte is ample.
constexpr std::size_t StackBytes = 1u << 20;
void StartSwitch(void**, const void*, std::size_t) {}
void FinishSwitch(void*, const void**, std::size_t*) {}
#endif

// The fiber whose stack the thread runs on now; null on the thread's own stack.
thread_local SlotFiber* gCurrent = nullptr;
// The fiber being entered for a new step (makecontext passes no pointer).
thread_local SlotFiber* gStarting = nullptr;

} // namespace

SlotFiber::SlotFiber() {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mappedSize_ = StackBytes + page;
    void* mapped = mmap(nullptr, mappedSize_, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    // A guard page below the stack: an overflow faults instead of writing into other memory.
    mprotect(mapped, page, PROT_NONE);
    stack_ = static_cast<char*>(mapped) + page;
    stackSize_ = StackBytes;
    resume_.setSingleShot(true);
    resume_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&resume_, &QTimer::timeout, [this] {
        if (busy_) {
            SwitchIn();
        }
    });
}

SlotFiber::~SlotFiber() {
    Finish();
    munmap(static_cast<char*>(stack_) - (mappedSize_ - stackSize_), mappedSize_);
}

void SlotFiber::Run(const std::function<void()>& step) {
    if (busy_ || finishing_) {
        step();
        return;
    }
    step_ = step;
    busy_ = true;
    getcontext(&fiberContext_);
    fiberContext_.uc_stack.ss_sp = stack_;
    fiberContext_.uc_stack.ss_size = stackSize_;
    fiberContext_.uc_link = nullptr;
    makecontext(&fiberContext_, &SlotFiber::Entry, 0);
    gStarting = this;
    SwitchIn();
}

void SlotFiber::Entry() {
    SlotFiber* self = gStarting;
    gStarting = nullptr;
    FinishSwitch(nullptr, &self->callerBottom_, &self->callerSize_);
    // Nothing may unwind past the first frame of a stack.
    try {
        self->step_();
    } catch (const std::exception& e) {
        self->failure_ = e.what();
    } catch (...) {
        self->failure_ = "unknown failure";
    }
    self->step_ = nullptr;
    self->busy_ = false;
    // This stack is left for good: the sanitizer may forget its frames.
    StartSwitch(nullptr, self->callerBottom_, self->callerSize_);
    setcontext(&self->callerContext_);
}

void SlotFiber::SwitchIn() {
    SlotFiber* const previous = gCurrent;
    gCurrent = this;
    void* fakeStack = nullptr;
    StartSwitch(&fakeStack, stack_, stackSize_);
    swapcontext(&callerContext_, &fiberContext_);
    FinishSwitch(fakeStack, nullptr, nullptr);
    gCurrent = previous;
}

void SlotFiber::Suspend() {
    void* fakeStack = nullptr;
    StartSwitch(&fakeStack, callerBottom_, callerSize_);
    swapcontext(&fiberContext_, &callerContext_);
    FinishSwitch(fakeStack, &callerBottom_, &callerSize_);
}

bool SlotFiber::OnOwnStack() const {
    return gCurrent == this && !finishing_;
}

void SlotFiber::Sleep(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    if (!OnOwnStack()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return;
    }
    resume_.start(milliseconds);
    Suspend();
}

void SlotFiber::Pause(bool processEvents) {
    if (OnOwnStack()) {
        resume_.start(1);
        Suspend();
    } else if (processEvents) {
        QCoreApplication::processEvents();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void SlotFiber::Finish() {
    finishing_ = true;
    resume_.stop();
    // From here on the step's waits block, so each resume runs it to its end.
    while (busy_) {
        SwitchIn();
    }
    finishing_ = false;
}

std::string SlotFiber::TakeFailure() {
    return std::exchange(failure_, std::string());
}

} // namespace pellwick
