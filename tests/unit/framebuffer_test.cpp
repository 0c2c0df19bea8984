#include "display/framebuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "emulator/emulator.h"
#include "emulator/framebuffer_device.h"

namespace {

class Framebuffer : public testing::Test {
  protected:
    void SetUp() override {
        emu::reset();
        fb_ = ::Framebuffer{};
    }
    void TearDown() override {
        close_framebuffer(fb_);
        fb_ = ::Framebuffer{};
    }
    static std::string errors() { return emu::stderr_text(); }

    // The first line of the page not on display, found from where its
    // pixels lie in the device's memory, which holds whole lines; the page's
    // index names the same line.
    int select_back_page() {
        page_ = back_page(fb_);
        const auto offset =
            reinterpret_cast<std::uint8_t*>(page_.canvas.pixels) - emu::fb::memory();
        EXPECT_EQ(offset % 7680, 0);
        EXPECT_EQ(page_.canvas.stride * 4, 7680);
        EXPECT_EQ(kPageYOffsets[page_.index], offset / 7680);
        back_pixels_ = page_.canvas.pixels;
        return static_cast<int>(offset / 7680);
    }

    // Pans to the page select_back_page gave; the device then shows that
    // page, by its index, when the pan went through.
    bool present_back_page() {
        const bool shown = present_page(fb_, page_);
        if (shown) {
            EXPECT_EQ(emu::fb::shown_page(), page_.index);
        }
        return shown;
    }

    ::Framebuffer fb_;
    Page page_;
    std::uint32_t* back_pixels_ = nullptr;
};

struct LayoutCase {
    const char* what;
    std::uint32_t stride;
    std::uint32_t yres_virtual;
    std::uint32_t smem;
    FbOpen result;
};

TEST_F(Framebuffer, LayoutIsCheckedAtItsBoundaries) {
    const LayoutCase cases[] = {
        {"exactly three pages", 7680, 2160, 7680 * 3240, FbOpen::Ready},
        {"one byte short", 7680, 2160, 24883199, FbOpen::Failed},
        {"virtual height 2159", 7680, 2159, 7680 * 3240, FbOpen::Failed},
        {"wider stride", 7684, 2160, 7680 * 3240, FbOpen::Failed},
        {"narrower stride", 5120, 2160, 7680 * 3240, FbOpen::Failed},
        {"plenty of everything", 7680, 3240, 7680 * 4000, FbOpen::Ready},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        emu::fb::Settings settings;
        settings.line_length = c.stride;
        settings.yres_virtual = c.yres_virtual;
        settings.smem_len = c.smem;
        emu::fb::configure(settings);
        EXPECT_EQ(open_framebuffer(fb_, false), c.result);
        char info[128];
        std::snprintf(info, sizeof info, "fb0: stride=%u smem=%u yres=1080 yvirt=%u yoff=0\n",
                      c.stride, c.smem, c.yres_virtual);
        std::string expected = info;
        if (c.result == FbOpen::Failed) {
            expected += "unexpected fb layout\n";
            EXPECT_EQ(fb_.descriptor, -1);
            EXPECT_FALSE(emu::fb::mapped());
        }
        EXPECT_EQ(errors(), expected);
        TearDown();
    }
}

TEST_F(Framebuffer, ProbeReportsAndTestsButTouchesNothing) {
    EXPECT_EQ(open_framebuffer(fb_, true), FbOpen::ProbeDone);
    EXPECT_EQ(errors(), "fb0: stride=7680 smem=24883200 yres=1080 yvirt=2160 yoff=0\n");
    EXPECT_FALSE(emu::fb::mapped());
    EXPECT_EQ(emu::fb::pan_count(), 0);
    EXPECT_EQ(emu::fb::yres_virtual(), 2160u);
    EXPECT_EQ(fb_.descriptor, -1);
}

struct SystemErrorCase {
    emu::Call call;
    const char* target;
    int err;
    const char* message;
};

TEST_F(Framebuffer, SystemErrorsAreReportedInTheirExactForm) {
    const SystemErrorCase cases[] = {
        {emu::Call::Open, "/dev/fb0", ENOENT, "fb0: No such file or directory\n"},
        {emu::Call::Open, "/dev/fb0", EACCES, "fb0: Permission denied\n"},
        {emu::Call::Ioctl, "#0x4600", EINVAL, "ioctl: Invalid argument\n"},
        {emu::Call::Ioctl, "#0x4602", ENODEV, "ioctl: No such device\n"},
        {emu::Call::Mmap, "/dev/fb0", ENOMEM, "mmap: Cannot allocate memory\n"},
    };
    for (const SystemErrorCase& c : cases) {
        SCOPED_TRACE(c.message);
        SetUp();
        emu::add_fault({c.call, c.target, 1, emu::Action::Fail, c.err});
        EXPECT_EQ(open_framebuffer(fb_, false), FbOpen::Failed);
        std::string text = errors();
        EXPECT_EQ(text.substr(text.size() - std::strlen(c.message)), c.message);
        EXPECT_EQ(fb_.descriptor, -1) << "nothing is left open";
        restore_display(fb_);
        EXPECT_EQ(emu::fb::pan_count(), 0);
        TearDown();
    }
}

TEST_F(Framebuffer, PagesAlternateAndRestoreReturnsToLineZero) {
    ASSERT_EQ(open_framebuffer(fb_, false), FbOpen::Ready);
    EXPECT_EQ(emu::fb::yres_virtual(), 3240u);
    const int expected[] = {1080, 2160, 1080, 2160};
    for (int frame = 0; frame < 4; ++frame) {
        int y = select_back_page();
        EXPECT_EQ(y, expected[frame]);
        present_back_page();
        EXPECT_EQ(emu::fb::yoffset(), static_cast<std::uint32_t>(y));
    }
    restore_display(fb_);
    EXPECT_EQ(emu::fb::shown_page(), -1) << "line 0 is no drawing page";
    ASSERT_EQ(emu::fb::pan_count(), 5);
    const emu::fb::Pan& last = emu::fb::pan(4);
    EXPECT_EQ(last.yoffset, 0u);
    EXPECT_EQ(last.yres_virtual, 2160u) << "the restore sends the start-up virtual height";
    EXPECT_EQ(emu::fb::yoffset(), 0u);
}

TEST_F(Framebuffer, RefusedPansKeepDrawingIntoTheSamePageAndRestoreSendsNothing) {
    emu::fb::Settings settings;
    settings.refuse_pans = true;
    emu::fb::configure(settings);
    ASSERT_EQ(open_framebuffer(fb_, false), FbOpen::Ready);
    for (int frame = 0; frame < 3; ++frame) {
        int y = select_back_page();
        EXPECT_EQ(y, 1080);
        present_back_page();
    }
    EXPECT_FALSE(fb_.pan_done);
    int pans = emu::fb::pan_count();
    restore_display(fb_);
    EXPECT_EQ(emu::fb::pan_count(), pans);
}

TEST_F(Framebuffer, DisplayMovedByAnotherProgramIsWarnedAboutAndStillRestoredToZero) {
    emu::fb::Settings settings;
    settings.yres_virtual = 3240;
    settings.yoffset = 1080;
    emu::fb::configure(settings);
    ASSERT_EQ(open_framebuffer(fb_, false), FbOpen::Ready);
    EXPECT_NE(errors().find("WARNING: yoffset=1080 at start (another overlay running?)\n"),
              std::string::npos);
    select_back_page();
    present_back_page();
    restore_display(fb_);
    EXPECT_EQ(emu::fb::yoffset(), 0u);
    EXPECT_EQ(emu::fb::pan(emu::fb::pan_count() - 1).yres_virtual, 3240u);
}

TEST_F(Framebuffer, PagesFollowWhatTheKernelCanShowAndThePictureStaysLive) {
    // A frame is shown when its pan succeeds; the display must keep
    // changing, whatever the driver made of the enlargement.
    const struct {
        const char* what;
        std::uint32_t yres;
        std::uint32_t yres_virtual;
        bool refuse_resize;
        bool pretend_resize;
        int pages[5];        // first line of each frame's page
        bool shown[5];       // whether that frame's pan succeeds
        bool fallback_line;  // the enlargement's failure is reported
    } cases[] = {
        {"enlarged",
         1080,
         2160,
         false,
         false,
         {1080, 2160, 1080, 2160, 1080},
         {true, true, true, true, true},
         false},
        {"refused, two pages",
         1080,
         2160,
         true,
         false,
         {1080, 1080, 1080, 1080, 1080},
         {true, true, true, true, true},
         true},
        {"refused, room for three",
         1080,
         3240,
         true,
         false,
         {1080, 2160, 1080, 2160, 1080},
         {true, true, true, true, true},
         true},
        {"enlarged, taller screen",
         1200,
         2160,
         false,
         false,
         {1080, 1080, 1080, 1080, 1080},
         {true, true, true, true, true},
         false},
        {"refused, shorter screen fits",
         720,
         2880,
         true,
         false,
         {1080, 2160, 1080, 2160, 1080},
         {true, true, true, true, true},
         true},
        {"enlargement taken but not made",
         1080,
         2160,
         false,
         true,
         {1080, 2160, 1080, 1080, 1080},
         {true, false, true, true, true},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        emu::fb::Settings settings;
        settings.yres = c.yres;
        settings.yres_virtual = c.yres_virtual;
        settings.refuse_resize = c.refuse_resize;
        settings.pretend_resize = c.pretend_resize;
        emu::fb::configure(settings);
        ASSERT_EQ(open_framebuffer(fb_, false), FbOpen::Ready);
        EXPECT_EQ(errors().find("(single-buffer fallback)") != std::string::npos, c.fallback_line);
        for (int frame = 0; frame < 5; ++frame) {
            int y = select_back_page();
            EXPECT_EQ(y, c.pages[frame]) << "frame " << frame;
            const std::uint32_t picture = 0xff000100u + static_cast<std::uint32_t>(frame);
            back_pixels_[0] = picture;
            EXPECT_EQ(present_back_page(), c.shown[frame]) << "frame " << frame;
            EXPECT_EQ(emu::fb::displayed_area()[0] == picture, c.shown[frame]) << "frame " << frame;
        }
        TearDown();
    }
}

}  // namespace
