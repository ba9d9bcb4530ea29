// Placeholder until the codec lands; keeps the library buildable.
