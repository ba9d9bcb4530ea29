// Placeholder until the simulated adapter lands; keeps the library buildable.
