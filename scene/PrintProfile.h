#pragma once

// One print-quality profile of setting.ini (low, mid, high).
struct PrintProfile
{
    int support = 0;
    int support_type = 1;
    int support_angle = 60;
    int support_fill_density = 20;
    int print_raft_Layers = 1;
    int infill_pattern = 1;
    int z_hop_when_retracting = 0;
    double first_layer_airgap = 0.11;
    int fill_density = 20;
    int heatingBed = 1; // shown by the settings window, never stored
};
