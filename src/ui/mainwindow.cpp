// Placeholder until the widgets land.
