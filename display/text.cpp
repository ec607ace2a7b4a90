// Text with a one-pixel black shadow, and the track labels drawn into the background.
#include "text.h"

#include <string>

namespace {

// Blends a rendered text onto the surface by its per-pixel alpha and releases it. A text that
// failed to render is neither copied nor released.
void blitText(SDL_Surface* surface, SDL_Surface* image, int x, int y) {
  if (image == nullptr) {
    return;
  }
  SDL_Rect at = {Sint16(x), Sint16(y), 0, 0};
  SDL_BlitSurface(image, nullptr, surface, &at);
  SDL_FreeSurface(image);
}

constexpr int labelWidth = 54; // pixels from the label's left to the cursor frame's

// "03-bass drum" shows "bass drum": the number and what parts it from the name left out, cut
// to labelWidth; "" for a name that is only a number, or none.
std::string soundName(const char* fileName) {
  std::string name = fileName;
  name.erase(0, name.find_first_not_of("0123456789"));
  name.erase(0, name.find_first_not_of(" -_."));
  int width = 0;
  while (!name.empty() &&
         (TTF_SizeText(font, name.c_str(), &width, nullptr) != 0 || width > labelWidth)) {
    name.pop_back();
  }
  return name;
}

} // namespace

void drawText(SDL_Surface* surface, const char* text, int x, int y, int r, int g, int b) {
  if (font == nullptr || surface == nullptr) {
    return;
  }
  SDL_Color shadow = {0, 0, 0, 0};
  blitText(surface, TTF_RenderText_Blended(font, text, shadow), x - 1, y - 1);
  SDL_Color colour = {Uint8(r), Uint8(g), Uint8(b), 0};
  blitText(surface, TTF_RenderText_Blended(font, text, colour), x, y);
}

void labelSamples(SDL_Surface* surface, const SampleBank* kit) {
  char label[] = "sample 0";
  for (int i = 0; i < trackCount; i++) {
    label[7] = char('0' + i);
    std::string name = kit != nullptr && font != nullptr ? soundName(kit->name[i]) : "";
    drawText(surface, name.empty() ? label : name.c_str(), 4, 65 + 17 * i, 255, 255, 255);
  }
}
