// placeholder until the device model lands
