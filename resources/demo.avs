# The bundled demo clip: ten seconds of a moving test picture with a hard cut in the middle.
TestPattern(length=250, width=720, height=576, fps=25, cut=125)
