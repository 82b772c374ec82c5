// The simulated bridge lands here.
