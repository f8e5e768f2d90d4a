#pragma once

#include <QString>

// The test setup the user last entered for one analyzer channel; the setup
// sheet fills it and the run controller starts the test from it.
struct EquipmentRecord {
    int typeIndex = 0; // 1 Flow, 2 Occlusion, 3 PCA / Dual Flow, 4 Template
    QString controlNumber, operatorName, manufacturer, deviceType, serialNumber, location, comments;
    QString reportHeader1, reportHeader2, reportHeader3;
};

struct FlowBlock {
    double setFlowRate = 0, totalVolume = 0;
    int tolerance = 0, toleranceOverride = 0, autoStart = 0, stopOnVolume = 0, stopOnTime = 0,
        firstCondition = 0, bothConditions = 0;
    double stopVolume = 0;
    int stopHours = 0, stopMinutes = 0;
};

struct OcclusionBlock {
    double setFlowRate = 0;
    int stopOnTime = 0, stopHours = 0, stopMinutes = 0;
};

struct PcaBlock {
    double basalRate = 0, totalVolume = 0, bolusVolume = 0;
    int lockoutMinutes = 0, lockoutSeconds = 0;
    double loadingDose = 0;
    int tolerance = 0, toleranceOverride = 0, autoStart = 0, stopOnVolume = 0, stopOnTime = 0,
        firstCondition = 0, bothConditions = 0;
    double stopVolume = 0;
    int stopHours = 0, stopMinutes = 0;
};

struct ChannelSetup {
    EquipmentRecord equipment;
    FlowBlock flow;
    OcclusionBlock occlusion;
    PcaBlock pca;
    QString templateName;
    // The template's file in the data folder, as the template store lists it
    // (imported templates need not follow the "RXt_" + name pattern).
    QString templateFileName;
};
