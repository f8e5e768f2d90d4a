#pragma once

#include "app/RivuletrixApp.h"
#include "link/Device.h"
#include "records/RivuletrixDoc.h"
#include "testing/RunController.h"

#include <map>
#include <memory>

// Channel "windows" without a screen: a document and its run controller per
// channel, entered in the application's and the device's tables. Used by the
// command-line run and the run tests.
class HeadlessChannelHost : public ChannelWindowHost {
public:
    struct Channel {
        std::unique_ptr<CRivuletrixDoc> doc;
        std::unique_ptr<RunController> run;
    };
    CRivuletrixApp* app = nullptr;
    SetupSheetRunner* sheet = nullptr;
    std::map<int, Channel> channels; // slot * 10 + channel

    void OpenChannelWindow(int slot, int channel) override {
        Channel c;
        c.doc = std::make_unique<CRivuletrixDoc>();
        c.doc->Run.live = true;
        c.doc->ChannelNo = channel - 1;
        c.run = std::make_unique<RunController>(*app, *c.doc, slot, channel);
        c.run->SetSetupSheet(sheet);
        app->ChannelDocs[slot - 1][channel - 1] = c.doc.get();
        app->Device(slot)->SetChannelDoc(channel - 1, c.doc.get());
        channels[slot * 10 + channel] = std::move(c);
    }
    void CloseChannelWindow(int slot, int channel) override {
        if (CDevice* d = app->Device(slot)) d->SetChannelDoc(channel - 1, nullptr);
        channels.erase(slot * 10 + channel);
    }
    void ArrangeChannelWindows() override {}
};
