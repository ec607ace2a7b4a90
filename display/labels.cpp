// The status line: step counter, tempo and the shuffle indicator.
#include "labels.h"

#include "text.h"

void makeBPMstring(float bpm, char* buffer) {
  // Each test compares the tempo itself in double precision; the remainder stays in single.
  float rem = bpm;
  if (double(bpm) > 99.9) {
    int h = int(rem / 100.0f);
    buffer[5] = char('0' + h);
    rem = rem - float(100 * h);
  } else {
    buffer[5] = ' ';
  }
  if (double(bpm) > 9.9) {
    int t = int(rem / 10.0f);
    buffer[6] = char('0' + t);
    rem = rem - float(10 * t);
  } else {
    buffer[6] = ' ';
  }
  if (double(bpm) > 0.9) {
    int u = int(rem);
    buffer[7] = char('0' + u);
    rem = rem - float(u);
  } else {
    buffer[7] = ' ';
  }
  int d = int(double(rem) / 0.1);
  buffer[9] = char('0' + d);
}

void drawStepLabel(MachineState& s) {
  if (s.step >= 10) {
    s.stepText[6] = char('0' + s.step / 10);
    s.stepText[7] = char('0' + s.step % 10);
  } else {
    s.stepText[6] = char('0' + s.step);
    s.stepText[7] = ' ';
  }
  bool onBeat = (s.step - 1) % 4 == 0;
  drawText(screen, s.stepText, 2, 40, 255, onBeat ? 0 : 255, onBeat ? 0 : 255);
}

void drawTempoLabels(MachineState& s) {
  makeBPMstring(s.bpm, s.bpmText);
  drawText(screen, s.bpmText, 60, 40, 255, 255, 255);
  if (s.shuffle == 1) {
    drawText(screen, "SHFL", 109, 40, 255, 255, 255);
  }
}
