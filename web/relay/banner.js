// The relay's lines in the page's error banner: one for Wi-Fi, one for Bluetooth, both shown
// when both failed. It remembers what it showed, so that an emptied waiting list takes back its
// own words and nobody else's.

export class RelayBanner {
  // `feedback` is the page's banner: showError(text), clearError() and errorText().
  constructor(feedback) {
    this.feedback = feedback;
    this.wifi = '';
    this.bluetooth = '';
    this.shown = '';
  }

  show() {
    this.shown = [this.wifi, this.bluetooth].filter(Boolean).join('\n');
    if (this.shown) this.feedback.showError(this.shown);
  }

  clear() {
    if (this.shown && this.feedback.errorText() === this.shown) this.feedback.clearError();
    this.wifi = '';
    this.bluetooth = '';
    this.shown = '';
  }
}
