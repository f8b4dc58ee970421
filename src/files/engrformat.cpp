// Placeholder until the engineering-units file format lands.
