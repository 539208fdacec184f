#pragma once

// Each benchmark prints its own timings; main.cpp runs them all.
void benchListView();
void benchVisualizza();
